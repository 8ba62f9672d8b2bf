// The one way out of a run: the report and the summary, then the log's
// finishing stamp, then exit status 0.
#pragma once

#include <string>

[[noreturn]] void endRun();

// The report of a run that a caught signal is about to end, so that no
// earlier run's report stands for it; empty, or why it could not be written.
std::string leaveReportOfStoppedRun(const std::string& reason);
