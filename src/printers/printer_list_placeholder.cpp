// Placeholder for the printer list: finds no queue yet.
#include "printers/printer_list.h"

void addPList(PrinterList& list, PrinterEntry entry) { list.entries.push_back(std::move(entry)); }
int freePList(PrinterList& list) {
  list.entries.resize(1);
  return 0;
}
int resetPList(PrinterList& list) {
  list.entries.assign(1, PrinterEntry{});
  return 0;
}
int getInstalledPrinters(PrinterList&, int& count) {
  count = 0;
  return 0;
}
int getInfoPrinters(int, PrinterList&) { return 0; }
int findNewPPD(const std::string&, const PrinterEntry&, std::string&) { return 0; }
