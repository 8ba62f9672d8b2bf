// The queues that use one of the product's PPDs, and the new PPD for each.
#pragma once

#include <string>
#include <vector>

enum PdlKind : unsigned { kPdlNone = 0, kPdlPostScript = 1, kPdlPcl = 2, kPdlPxl = 3 };

inline constexpr std::size_t kQueueNameLimit = 79;

struct PrinterEntry {
  std::string modelText;
  std::string ppdFile;
  std::string queueName;
  int modelId = 0;
  int index = 0;
  unsigned pdlKind = kPdlNone;
};

// A ring of queues whose head always exists and holds the first queue: an
// empty list and a list of one entry look alike, only the count tells them
// apart. entries[0] is the head; entries[i + 1] follows entries[i].
struct PrinterList {
  std::vector<PrinterEntry> entries{1};
  PrinterEntry& head() { return entries.front(); }
};

void addPList(PrinterList& list, PrinterEntry entry);
int freePList(PrinterList& list);
int resetPList(PrinterList& list);

// Lists the queues of the CUPS ppd directory that use a product PPD.
int getInstalledPrinters(PrinterList& list, int& count);
// Reads the printers block of the information file of that kind; sets
// settings().printerCount.
int getInfoPrinters(int kind, PrinterList& list);

int findNewPPD(const std::string& ppdDir, const PrinterEntry& printer, std::string& path);
