// Print system detection: an environment variable may name the spooler;
// otherwise the process list and "lpd -V" tell which one runs. Seeing the
// CUPS scheduler also settles the CUPS directories from its command line.
#include "discovery/print_system.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "discovery/cups_dirs.h"
#include "discovery/temp_file.h"
#include "driver/settings.h"
#include "driver/shell.h"
#include "driver/text.h"
#include "driver/update_log.h"

namespace {

constexpr std::array<const char*, 4> kProbedProcesses = {"cupsd", "lpsched", "lpd", "cupsd"};

// Sleeps whole seconds, going on after a signal until they have passed.
void pauseSeconds(unsigned seconds) {
  while (seconds > 0) seconds = sleep(seconds);
}

int printSystemByName(const char* value) {
  const std::string name = value;
  if (name == "CUPS") return kPrintSystemCups;
  if (name == "LPRNG") return kPrintSystemLprng;
  if (name == "LPR") return kPrintSystemLpr;
  if (name == "LP") return kPrintSystemLp;
  return kPrintSystemUnknown;
}

// The scheduler's command text in a process-list line: from the blank before
// the process name to the end of the line.
std::string commandTextOf(const std::string& line, std::size_t nameAt) {
  const std::size_t blank = nameAt == 0 ? std::string::npos : line.rfind(' ', nameAt - 1);
  return blank == std::string::npos ? line : line.substr(blank + 1);
}

// What the first line naming the process decides, or nothing.
std::optional<int> decideFromList(std::FILE* list, const char* name, int i) {
  std::string line;
  while (readLine255(list, line)) {
    debugLine(strFormat("STRING=(%s) i=%d\n", line.c_str(), i));
    if (contains(line, "grep")) continue;
    const std::size_t at = line.find(name);
    if (at == std::string::npos) continue;
    if (i == 0) setCupsDirs(commandTextOf(line, at));
    if (i == 1) return kPrintSystemLp;
    if (i == 2) return kPrintSystemLpr;
    return kPrintSystemCups;
  }
  return std::nullopt;
}

// "lpd -V" reports LPRng on its error output when that is the spooler.
int checkLprng(int result) {
  const std::optional<std::string> tempFile = makeTempFile("/tmp", "KORLPRNG");
  if (!tempFile) return result;
  runShell("lpd -V 2> " + shellWord(*tempFile));
  std::FILE* output = std::fopen(tempFile->c_str(), "r");
  if (output != nullptr) {
    std::string line;
    while (readLine255(output, line)) {
      if (contains(line, "LPRng")) {
        result = kPrintSystemLprng;
        break;
      }
    }
    std::fclose(output);
  }
  unlink(tempFile->c_str());
  return result;
}

}  // namespace

int getPrintSystemFromEnv() {
  const char* value = std::getenv("KORLPMODE");
  if (value == nullptr) value = std::getenv("VELALPMODE");
  return value == nullptr ? kPrintSystemUnknown : printSystemByName(value);
}

int probePrintSystem() {
  int result = kPrintSystemUnknown;
  for (int i = 0; i < static_cast<int>(kProbedProcesses.size()); ++i) {
    const char* name = kProbedProcesses[i];
    // Each list goes into a fresh file of this run, never into a name that
    // another user could have planted beforehand.
    const std::optional<std::string> tempFile = makeTempFile("/tmp", "KORLPD");
    const std::string command =
        strFormat("ps -ef | grep %s > %s", name, tempFile ? shellWord(*tempFile).c_str() : "/tmp/KORLPDXXXXXX");
    std::FILE* list = nullptr;
    if (tempFile) {
      runShell(command);
      pauseSeconds(1);
      list = std::fopen(tempFile->c_str(), "r");
    }
    if (list == nullptr) {
      std::fprintf(stderr, "Cannot open file(cmd=%s) i=%d\n", command.c_str(), i);
      if (tempFile) unlink(tempFile->c_str());
      break;
    }
    const std::optional<int> decided = decideFromList(list, name, i);
    std::fclose(list);
    unlink(tempFile->c_str());
    if (!decided) continue;
    if (*decided != kPrintSystemLpr) return *decided;
    result = *decided;
    break;
  }
  return checkLprng(result);
}

int findFoomaticRip() {
  static constexpr std::array<const char*, 9> kPlaces = {
      "/usr/bin/foomatic-rip",
      "/bin/foomatic-rip",
      "/sbin/foomatic-rip",
      "/usr/local/bin/foomatic-rip",
      "/opt/bin/foomatic-rip",
      "/usr/lib/cups/filter/foomatic-rip",
      "/usr/local/lib/cups/filter/foomatic-rip",
      "/opt/lib/cups/filter/foomatic-rip",
      "/lib/cups/filter/foomatic-rip",
  };
  for (const char* path : kPlaces) {
    if (access(path, F_OK) == 0) return 1;
  }
  return 0;
}

const char* printSystemName(int printSystem) {
  switch (printSystem) {
    case kPrintSystemLp:
      return "LP";
    case kPrintSystemLpr:
      return "LPR";
    case kPrintSystemLprng:
      return "LPRNG";
    case kPrintSystemCups:
      return "CUPS";
    default:
      return "Unknown";
  }
}
