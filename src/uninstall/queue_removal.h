// Removing the product's print queues on de-installation.
#pragma once

#include <string>

#include "printers/printer_list.h"

void removeQueues(const PrinterList& list);
int deleteQueue(const std::string& name);
int removePrinterDir(const std::string& name);
