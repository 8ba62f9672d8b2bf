// The queues that the information file names in its printers block: the
// list that a de-installation removes and that an upgrade counts.
#include "printers/printer_list.h"

#include <cstdio>

#include "driver/regular_file.h"
#include "driver/settings.h"
#include "driver/text.h"

namespace {

constexpr std::string_view kBlockBegin = "%%KORBLOCK_PRINTERS_BEGIN";
constexpr std::string_view kBlockEnd = "%%KORBLOCK_PRINTERS_END";
constexpr std::size_t kInfoLineLimit = 256;

// Reads one line cut as the information file's markers are compared.
bool readInfoLine(std::FILE* file, std::string& line) {
  if (!readLine255(file, line)) return false;
  line = *trimToLength(line, kInfoLineLimit);
  return true;
}

bool findBlockBegin(std::FILE* file) {
  std::string line;
  while (readInfoLine(file, line)) {
    if (line == kBlockBegin) return true;
  }
  return false;
}

// Reads the queue names up to the end marker; returns how many were read.
int readBlock(std::FILE* file, PrinterList& list) {
  freePList(list);
  int n = 0;
  std::string line;
  while (readInfoLine(file, line) && line != kBlockEnd) {
    std::string name = line.substr(0, kQueueNameLimit);
    if (n == 0) {
      PrinterEntry& head = list.head();
      head.queueName = std::move(name);
      head.index = 0;
      head.pdlKind = kPdlNone;
    } else {
      PrinterEntry entry;
      entry.queueName = std::move(name);
      entry.index = n;
      addPList(list, std::move(entry));
    }
    ++n;
  }
  return n;
}

}  // namespace

// Fills the list from the printers block and sets the run-wide counter.
int getInfoPrinters(int kind, PrinterList& list) {
  SetupSettings& s = settings();
  const std::string dir = s.installDir.empty() ? "/opt/tam" : s.installDir;
  const std::string path = dir + (kind == 1 ? "/velaInfo2.0" : "/velaInfo4.0");
  std::FILE* file = openRegularFile(path);
  if (file == nullptr) return 0;
  if (!findBlockBegin(file)) {
    std::fclose(file);
    return 0;
  }
  s.printerCount = readBlock(file, list);
  std::fclose(file);
  return 1;
}
