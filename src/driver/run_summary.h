// The closing account on standard output: a few lines that say what the run
// did and where, so that an administrator (or a script) sees it without
// opening the log. A preview also lists what each queue would get.
#pragma once

#include <string>

// Prints the summary; reportError is empty when the report was written.
void printRunSummary(const std::string& reportPath, const std::string& reportError);
