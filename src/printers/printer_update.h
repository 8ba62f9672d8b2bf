// Brings every listed queue up to its new PPD, keeping its defaults.
#pragma once

#include <string>

#include "printers/printer_list.h"

int updatePrinters(const std::string& ppdDir, PrinterList& list, int count, int query);
