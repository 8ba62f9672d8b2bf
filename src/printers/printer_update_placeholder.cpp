// Placeholder for the PPD merge and printer update: updates nothing yet.
#include "printers/ppd_merge.h"
#include "printers/printer_update.h"

int readOldDefaults(const std::string&, OptionList&, int&) { return 0; }
int processNewPPD(std::FILE*, std::FILE*, const OptionList&, int) { return 0; }
int updatePrinters(const std::string&, PrinterList&, int, int) { return 0; }
