// The way out of a run: the report and the summary, then the log's
// finishing stamp, then exit status 0. A run that a caught signal ends
// leaves its report first.
#pragma once

#include <string>

[[noreturn]] void endRun();

// The report of a run that a caught signal is about to end, so that no
// earlier run's report stands for it.
void leaveReportOfStoppedRun(const std::string& reason);
