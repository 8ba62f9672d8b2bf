// Which CUPS queues use one of the product's PPDs: every file of the CUPS
// ppd directory whose first 30 lines carry a supported model line and the
// product's version-1 marker is listed as a queue.
#include "printers/printer_list.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "driver/atomic_file.h"
#include "driver/regular_file.h"
#include "driver/settings.h"
#include "driver/text.h"

namespace {

constexpr int kHeaderLines = 30;

// What the top of one PPD says about it.
struct PPDHeader {
  std::optional<std::string> modelText;
  unsigned pdlKind = kPdlNone;
  int modelId = 0;
  int version = 0;
};

std::string cupsPPDDir() {
  const std::string& base = settings().cupsBaseDir;
  if (base.empty() || base == "/") return "/etc/cups/ppd";
  return base + "/etc/cups/ppd";
}

// Reads at most 30 lines, until both marker lines are found.
PPDHeader readHeader(std::FILE* file) {
  PPDHeader header;
  std::string line;
  for (int n = 0; n < kHeaderLines && (!header.modelText || header.version == 0); ++n) {
    if (!readLine255(file, line)) break;
    if (!header.modelText) header.modelText = getModelName(line, header.pdlKind, header.modelId);
    if (header.version == 0) {
      const int version = getPPDVersion(line);
      if (version > 0) header.version = version;
    }
  }
  return header;
}

std::string queueNameOf(const std::string& fileName) {
  const std::size_t suffix = fileName.find(".ppd");
  return fileName.substr(0, std::min(suffix, kQueueNameLimit));
}

// Lists the file when it is a product PPD of the current generation.
void examineEntry(const std::string& dir, const std::string& name, PrinterList& list, int& count) {
  const std::string path = dir + "/" + name;
  if (path.size() > kPathLimit) return;  // could not be handed on whole
  std::FILE* file = openRegularFile(path);
  if (file == nullptr) return;
  PPDHeader header = readHeader(file);
  std::fclose(file);
  if (!header.modelText || header.version != 1 || header.pdlKind == kPdlNone) return;

  PrinterEntry entry;
  entry.modelText = std::move(*header.modelText);
  chopLineEnd(entry.modelText);
  entry.ppdFile = path;
  entry.queueName = queueNameOf(name);
  entry.modelId = header.modelId;
  entry.pdlKind = header.pdlKind;
  entry.index = count;
  if (count == 0) {
    freePList(list);
    list.head() = std::move(entry);
  } else {
    addPList(list, std::move(entry));
  }
  ++count;
}

}  // namespace

// Builds the list from the CUPS ppd directory and writes both reports.
int getInstalledPrinters(PrinterList& list, int& count) {
  count = 0;
  const std::string dir = cupsPPDDir();
  if (::access(dir.c_str(), F_OK) != 0) return 0;

  if (DIR* directory = ::opendir(dir.c_str())) {
    while (const dirent* entry = ::readdir(directory)) {
      if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
      // A replacement PPD that a killed run left unfinished is no queue.
      if (startsWith(entry->d_name, kAtomicFilePrefix)) continue;
      examineEntry(dir, entry->d_name, list, count);
    }
    ::closedir(directory);
  }
  showPrinterList(list, count);
  showNewPPDList(settings().ppdInstallDir, list, count);
  return count > 0 ? 1 : 0;
}
