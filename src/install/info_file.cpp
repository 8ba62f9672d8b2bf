// The product's information file: finding an earlier installation through
// it, writing a fresh one, and converting the older generation's file. The
// file is only ever replaced whole, so a failed write keeps the old one.
#include "install/info_file.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "driver/atomic_file.h"
#include "driver/regular_file.h"
#include "driver/settings.h"
#include "driver/text.h"
#include "driver/update_log.h"

namespace {

std::string infoPath(const char* name) {
  const std::string& dir = settings().installDir;
  return (dir.empty() ? std::string("/opt/tam") : dir) + "/" + name;
}

// The message of a file that cannot be written, with the reason, when one
// is known, on a line of its own.
void reportCannotOpen(const std::string& path, const std::string& reason = "") {
  logLine(strFormat("Cannot open file:\n\t'%s',\nPlease check and try again.", path.c_str()));
  logLine(reason);
}

// The value of a USRDIR line: from the eighth character counted from the
// "U", past leading blanks, controls and high bytes, up to a blank or line end.
std::string usrdirValue(const std::string& line, std::size_t u) {
  std::size_t pos = u + 7;
  auto skipped = [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte <= 0x20 || byte >= 0x80;
  };
  while (pos < line.size() && skipped(line[pos])) ++pos;
  std::size_t end = pos;
  while (end < line.size() && line[end] != ' ' && line[end] != '\n') ++end;
  return pos < line.size() ? line.substr(pos, end - pos) : std::string();
}

// Looks for the first USRDIR line of path; true when one was found.
bool readUsrdir(const std::string& path, std::string& usrdir) {
  std::FILE* file = openRegularFile(path);
  if (file == nullptr) return false;
  std::string line;
  bool found = false;
  while (!found && readLine255(file, line)) {
    const std::size_t u = line.find("USRDIR");
    if (u == std::string::npos) continue;
    usrdir = usrdirValue(line, u);
    found = true;
  }
  std::fclose(file);
  return found;
}

std::string candidate(const char* name) {
  const char* named = std::getenv("VELAINFO");
  return named != nullptr ? std::string(named) : std::string("/opt/tam/") + name;
}

// Commits file and logs why when that failed; the old file then stays.
bool commitOrReport(AtomicFile& file, const std::string& path, int mode, int uid, int gid) {
  if (file.commit(mode, uid, gid)) return true;
  reportCannotOpen(path, strFormat("Could not write %s: %s. The previous file is kept.", path.c_str(),
                                   file.error().c_str()));
  return false;
}

}  // namespace

int findInfoFile(std::string& usrdir, int& kind) {
  kind = -1;
  const char* names[] = {"velaInfo2.0", "velaInfo4.0"};
  for (int pass = 0; pass < 2; ++pass) {
    if (readUsrdir(candidate(names[pass]), usrdir)) {
      kind = pass + 1;
      return 1;
    }
  }
  return 0;
}

void writeInfoFile() {
  const SetupSettings& s = settings();
  const std::string path = infoPath("velaInfo4.0");
  AtomicFile file(path);
  std::string text = "#\n# Vela 4.0 Information File\n#\n%%KORBLOCK_GENERAL_BEGIN\n";
  text += "USRDIR          " + s.installDir + "\n";
  text += "HOMEDIR         $HOME\nTMPDIR          /tmp\n%%KORBLOCK_GENERAL_END\n#\n#\n";
  text += "%%KORBLOCK_PRINTERS_BEGIN\nDefault\n%%KORBLOCK_PRINTERS_END\n#\n#\n";
  text += "%%KORBLOCK_USERS_BEGIN\nroot\n%%KORBLOCK_USERS_END\n#\n#\n";
  text += "%%KORBLOCK_PRNT_BEGIN Default\nroot\n%%KORBLOCK_PRNT_END Default\n#\n#\n%%KOREND\n";
  file.write(text);
  commitOrReport(file, path, 0755, s.userId, s.groupId);
}

void upgradeInfoFile() {
  const std::string oldPath = infoPath("velaInfo2.0");
  const std::string newPath = infoPath("velaInfo4.0");
  std::FILE* old = openRegularFile(oldPath);
  if (old == nullptr) {
    reportCannotOpen(oldPath);
    writeInfoFile();
    return;
  }
  AtomicFile converted(newPath);
  if (!converted.ok()) {
    reportCannotOpen(newPath);
    std::fclose(old);
    writeInfoFile();
    return;
  }
  std::string line;
  bool replaced = false;
  while (readLine255(old, line)) {
    if (!replaced && contains(line, "Information File")) {
      converted.write("# Vela 3.0 Information File\n");
      replaced = true;
    } else {
      converted.write(line);
    }
  }
  const bool readFailed = std::ferror(old) != 0;
  std::fclose(old);
  if (readFailed) {
    logLine(strFormat("Could not read %s. The previous file is kept.", oldPath.c_str()));
    return;
  }
  // A file written anew gets the mode a plain creation would give it; one
  // that is replaced keeps its mode and owner.
  struct stat previous;
  const bool existed = stat(newPath.c_str(), &previous) == 0;
  const int mode = existed ? static_cast<int>(previous.st_mode & 07777) : 0644;
  const int uid = existed ? static_cast<int>(previous.st_uid) : -1;
  const int gid = existed ? static_cast<int>(previous.st_gid) : -1;
  if (commitOrReport(converted, newPath, mode, uid, gid)) logLine("Copied velaInfo2.0 to velaInfo3.0 file.\n");
}
