// Removing the product's print queues on de-installation.
#pragma once

#include <string>

#include "printers/printer_list.h"

// Deletes every queue of the list after its head, except empty names and
// "Default", with what the product kept for it.
void removeQueues(const PrinterList& list);

// Removes the queue from the print system, with its device entry and model
// file. 1 when the steps ran, 0 on a print system it does not handle, -1
// when they ran but the scheduler did not answer the removal in time.
int deleteQueue(const std::string& name);

// Removes the queue's directory and script in the installation directory.
// -1 when the directory is missing (or the name unusable), else the result
// of removeTree.
int removePrinterDir(const std::string& name);

// True when name can stand as one entry inside a directory: not empty, not
// "." or "..", without "/" or NUL.
bool isPlainEntryName(const std::string& name);
