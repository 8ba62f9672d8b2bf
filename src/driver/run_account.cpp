// The one account of the run, filled by the steps that act, and the counts
// that the summary and the report give of it.
#include "driver/run_account.h"

#include <ctime>

RunAccount& runAccount() {
  static RunAccount account;
  return account;
}

void accountEarlyEnd(const std::string& reason) {
  RunAccount& account = runAccount();
  if (!account.completed) return;  // the first reason is the one that ended it
  account.completed = false;
  account.reason = reason;
}

std::string isoTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc {};
  char text[32] = "";
  if (gmtime_r(&now, &utc) != nullptr) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

namespace {

int notCarried(const QueueAccount& queue) {
  int n = 0;
  for (const SettingDecision& setting : queue.settings) n += setting.carried ? 0 : 1;
  return n;
}

void countCopy(const QueueAccount& copy, CupsCopyCounts& counts) {
  const std::string& o = copy.outcome;
  counts.updated += o == "updated";
  counts.upToDate += o == "up-to-date";
  counts.kept += o == "kept";
  counts.noNewPPD += o == "no-new-ppd";
  counts.skipped += o == "skipped";
  counts.settingsNotCarried += notCarried(copy);
}

}  // namespace

RunCounts countRun(const RunAccount& account) {
  RunCounts counts;
  for (const QueueAccount& queue : account.queues) {
    if (queue.cupsCopy) {
      countCopy(queue, counts.cupsCopies);
      continue;
    }
    const std::string& o = queue.outcome;
    counts.updated += o == "updated";
    counts.upToDate += o == "up-to-date";
    counts.kept += o == "kept";
    counts.noNewPPD += o == "no-new-ppd";
    counts.skipped += o == "skipped";
    counts.restored += o == "restored";
    counts.notRestored += o == "not-restored";
    counts.removed += o == "removed";
    counts.settingsNotCarried += notCarried(queue);
  }
  for (const FileAccount& file : account.files) {
    if (file.result == "OK.") {
      ++counts.filesRemoved;
    } else {
      ++counts.filesNotRemoved;
    }
  }
  return counts;
}

bool runChangedHost(const RunAccount& account, bool newInstallation) {
  const RunCounts counts = countRun(account);
  return (newInstallation && account.completed) || account.filesChanged > 0 || counts.updated > 0 || counts.cupsCopies.updated > 0 ||
         counts.restored > 0 || counts.removed > 0 || counts.filesRemoved > 0;
}
