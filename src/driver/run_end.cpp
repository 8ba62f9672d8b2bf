// Ending the run. Every exit of the flow and of the installation comes here,
// so that each run, early ends included, leaves its report and prints its
// summary before the log is closed.
#include "driver/run_end.h"

#include <cstdlib>

#include "driver/durable_changes.h"
#include "driver/run_account.h"
#include "driver/run_report.h"
#include "driver/run_summary.h"
#include "driver/settings.h"
#include "driver/status_line.h"
#include "driver/update_log.h"

namespace {

// What the report tells as done is on disk before it says so, and the report after it.
std::string writeReportDurably(const std::string& path) {
  syncPlacedChanges();
  if (!everySyncSucceeded()) accountEarlyEnd("what the run put in place could not all be synced to disk");
  runAccount().finished = isoTimeNow();
  std::string error;
  if (!writeRunReport(path, error)) logLine("Could not write the report " + path + ": " + error + ".");
  syncPlacedChanges();
  return error;
}

}  // namespace

void leaveReportOfStoppedRun(const std::string& reason) {
  accountEarlyEnd(reason);
  writeReportDurably(runReportPath());
}

void endRun() {
  const std::string path = runReportPath();
  const std::string error = writeReportDurably(path);
  endStatusLine();
  printRunSummary(path, error);
  if (settings().logOpen) UpdateLog::close();
  std::exit(0);
}
