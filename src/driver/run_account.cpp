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

// The outcomes of an update, which queues and CUPS's copies share.
template <typename Counts>
void countUpdate(const QueueAccount& entry, Counts& counts) {
  const std::string& o = entry.outcome;
  counts.updated += o == "updated";
  counts.upToDate += o == "up-to-date";
  counts.kept += o == "kept";
  counts.noNewPPD += o == "no-new-ppd";
  counts.skipped += o == "skipped";
  counts.settingsNotCarried += notCarried(entry);
}

}  // namespace

RunCounts countRun(const RunAccount& account) {
  RunCounts counts;
  for (const QueueAccount& queue : account.queues) {
    if (queue.cupsCopy) {
      countUpdate(queue, counts.cupsCopies);
      continue;
    }
    countUpdate(queue, counts);
    const std::string& o = queue.outcome;
    counts.restored += o == "restored";
    counts.notRestored += o == "not-restored";
    counts.removed += o == "removed";
    counts.notRemoved += o == "not-removed";
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
