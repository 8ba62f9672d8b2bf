// CUPS directory discovery. The scheduler's path names the root of the CUPS
// programs; the start-up script's prefix= and exec_prefix= lines, or else the
// usual layout, name the roots of its configuration and programs.
#include "discovery/cups_dirs.h"

#include <unistd.h>

#include <array>

#include "driver/regular_file.h"
#include "driver/settings.h"
#include "driver/text.h"

namespace {

constexpr std::array<const char*, 7> kStartupScripts = {
    "/etc/init.d/cups",        "/etc/init.d/cupsys",  "/etc/rc.d/init.d/cups", "/sbin/init.d/cups",
    "/etc/rc.d/init.d/cupsys", "/sbin/init.d/cupsys", "/etc/cups/cups",
};

bool present(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Everything after key up to the end of the line, one newline dropped.
std::string valueAfter(const std::string& line, std::size_t keyEnd) {
  std::string value = line.substr(keyEnd);
  if (!value.empty() && value.back() == '\n') value.pop_back();
  return value;
}

// The first line holding key (and not holding skip, when given) gives value.
bool findSetting(std::FILE* script, const char* key, const char* skip, std::string& value) {
  std::rewind(script);
  const std::string keyText = key;
  std::string line;
  while (readLine255(script, line)) {
    const std::size_t at = line.find(keyText);
    if (at == std::string::npos) continue;
    if (skip != nullptr && contains(line, skip)) continue;
    value = valueAfter(line, at + keyText.size());
    return true;
  }
  return false;
}

// No usable start-up script: accept the usual /usr and / layout only.
int fallbackPrefixes(std::string& prefix, std::string& execPrefix) {
  const std::string& binDir = settings().cupsBinDir;
  if (!binDir.empty()) {
    if (!present(binDir)) return 0;
    execPrefix = binDir;
    if (binDir != "/usr") return 0;
  } else {
    if (!present("/usr/share/cups")) return 0;
    execPrefix = "/usr";
  }
  if (!present("/etc/cups")) return 0;
  prefix.assign(1, '/');  // = "/" trips a false -Wrestrict of GCC 12 at -O3
  return 1;
}

}  // namespace

std::optional<std::string> getCupsdPrefix(std::string& text) {
  const std::size_t start = startsWith(text, " ") ? 1 : 0;
  if (text.compare(start, 1, "/") != 0) return std::nullopt;
  for (int i = 0; i < 2; ++i) {
    if (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  }
  if (!contains(text, "cupsd")) return std::nullopt;
  std::size_t at = text.find("/sbin/cupsd", start);
  if (at == std::string::npos) at = text.find("/bin/cupsd", start);
  if (at == std::string::npos) return std::nullopt;
  text.resize(at);
  std::string root = text.substr(start);
  // The result stood in a 256-byte buffer; a longer root is no usable path.
  if (root.size() > kPathLimit) return std::nullopt;
  return root;
}

int readCupsPrefixes(std::FILE* script, std::string& prefix, std::string& execPrefix) {
  const bool haveExec = findSetting(script, "exec_prefix=", nullptr, execPrefix);
  if (findSetting(script, "prefix=", "exec_prefix=", prefix)) return 1;
  return haveExec ? 1 : 0;
}

int getCupsPrefixes(std::string& prefix, std::string& execPrefix) {
  prefix.clear();
  for (const char* path : kStartupScripts) {
    std::FILE* script = openRegularFile(path);
    if (script == nullptr) continue;
    const int found = readCupsPrefixes(script, prefix, execPrefix);
    std::fclose(script);
    if (found) return 1;
    break;
  }
  return fallbackPrefixes(prefix, execPrefix);
}

void setCupsDirs(std::string commandText) {
  SetupSettings& s = settings();
  if (std::optional<std::string> root = getCupsdPrefix(commandText)) assignPath(s.cupsBinDir, *root);
  std::string prefix;
  std::string execPrefix;
  if (!getCupsPrefixes(prefix, execPrefix)) return;
  if (!prefix.empty()) assignPath(s.cupsBaseDir, prefix);
  if (!execPrefix.empty()) assignPath(s.cupsBinDir, execPrefix);
}

std::optional<std::string> getCupsDataDir() {
  const std::string& binDir = settings().cupsBinDir;
  if (!binDir.empty() && present(binDir + "/share/cups")) return binDir + "/share/cups";
  for (const char* dir : {"/usr/share/cups", "/usr/local/share/cups", "/usr/local/cups", "/usr/cups", "/etc/share/cups"}) {
    if (present(dir)) return std::string(dir);
  }
  return std::nullopt;
}
