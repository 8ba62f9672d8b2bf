// Undoing an upgrade: each product queue gets back the PPD kept in its
// backup, and the backup keeps the PPD it replaces.
#pragma once

#include "printers/printer_list.h"

// Swaps the PPD and the backup of every listed queue whose own PPD it is
// (CUPS's copies beside it are left alone), asking first when query is set.
// Returns how many queues were restored.
int restorePrinters(const PrinterList& list, int count, int query);
