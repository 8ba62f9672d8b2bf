// The printer list itself: the ring of queues that the update and the
// queue removal walk, and the two log reports about it.
#include "printers/printer_list.h"

#include "driver/text.h"
#include "driver/update_log.h"

namespace {

// The entry reached after following the ring's next links i times from the
// head, as every walk by count does.
PrinterEntry& ringEntry(PrinterList& list, int i) {
  return list.entries[static_cast<std::size_t>(i) % list.entries.size()];
}

const char* pdlReportLine(unsigned pdlKind) {
  switch (pdlKind) {
    case kPdlPostScript: return "\tPDL     : PostScript.";
    case kPdlPcl: return "\tPDL     : PCL.";
    case kPdlPxl: return "\tPDL     : PXL.";
    default: return "";
  }
}

void logQueueName(const PrinterEntry& entry) {
  if (entry.queueName.empty()) {
    logLine("Printer : unknown.\n");
  } else {
    logLine(strFormat("Printer : %s.\n", entry.queueName.c_str()));
  }
}

}  // namespace

bool isCupsCopy(const PrinterEntry& printer) {
  const std::size_t slash = printer.ppdFile.rfind('/');
  const std::string name = slash == std::string::npos ? printer.ppdFile : printer.ppdFile.substr(slash + 1);
  return name != printer.queueName + ".ppd";
}

// Appends entry at the tail of the ring, just before the head.
void addPList(PrinterList& list, PrinterEntry entry) {
  if (list.entries.empty()) list.entries.emplace_back();
  list.entries.push_back(std::move(entry));
}

// Releases every entry but the head.
int freePList(PrinterList& list) {
  list.entries.resize(1);
  return 0;
}

// Releases every entry and clears the head.
int resetPList(PrinterList& list) {
  freePList(list);
  list.head() = PrinterEntry{};
  return 0;
}

// Logs each listed queue with its PPD, model and page description language.
void showPrinterList(PrinterList& list, int count) {
  logLine(strFormat("List of Marlo Printers installed: %d.\n", count));
  for (int i = 0; i < count; ++i) {
    const PrinterEntry& entry = ringEntry(list, i);
    logQueueName(entry);
    logLine(strFormat("\tPPD File: %s.\n", entry.ppdFile.c_str()));
    logLine(strFormat("\tModel   : %s.\n", entry.modelText.c_str()));
    logLine(strFormat("\tMarlo ID: %d.\n", entry.modelId));
    logLine(pdlReportLine(entry.pdlKind));
  }
}

// Logs, for each listed queue, the new PPD that the update will give it.
void showNewPPDList(const std::string& ppdDir, PrinterList& list, int count) {
  logLine(strFormat("List of Marlo PPD files to install: %d.\n", count));
  for (int i = 0; i < count; ++i) {
    const PrinterEntry& entry = ringEntry(list, i);
    logQueueName(entry);
    std::string path;
    if (findNewPPD(ppdDir, entry, path)) {
      logLine(strFormat("PPD = %s.\n", path.c_str()));
    } else {
      logLine("PPD NOT FOUND!\n");
    }
  }
}
