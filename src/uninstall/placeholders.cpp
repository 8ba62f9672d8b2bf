// Placeholders for de-installation routines not built yet: each reports that
// it did nothing.
#include "uninstall/file_removal.h"
#include "uninstall/queue_removal.h"

void removeQueues(const PrinterList&) {}
int deleteQueue(const std::string&) { return 0; }
int removePrinterDir(const std::string&) { return -1; }
int removeInstalledFiles(int) { return 0; }
int removeTree(const std::string&) { return -1; }
