// Printing the run's summary from its account.
#include "driver/run_summary.h"

#include <cstdio>
#include <map>

#include "discovery/cups_restart.h"
#include "driver/console.h"
#include "driver/run_account.h"
#include "driver/settings.h"
#include "driver/text.h"

namespace {

std::string whatRan(const SetupSettings& s) {
  if (s.deinstall) return "de-installation of " + s.installDir;
  if (s.restore) return "restore of the product's queues";
  return (s.upgradeMode == 0 ? "new installation in " : "upgrade in ") + s.installDir;
}

// The cause of a queue kept as it was, in a word.
std::string keptCause(const std::string& reason) {
  if (contains(reason, "backup")) return "backup";
  if (contains(reason, "could not be made")) return "merge";
  return "install";
}

std::string keptText(const RunAccount& account, int kept) {
  std::map<std::string, int> causes;
  for (const QueueAccount& queue : account.queues) {
    if (queue.outcome == "kept" && !queue.cupsCopy) ++causes[keptCause(queue.reason)];
  }
  std::string text = strFormat("%d kept as they were", kept);
  std::string sep = " (";
  for (const auto& [cause, n] : causes) {
    text += sep + strFormat("%s: %d", cause.c_str(), n);
    sep = ", ";
  }
  return causes.empty() ? text : text + ")";
}

// What a preview found for each queue, and each default it would not carry.
void printQueueDetails(const RunAccount& account) {
  for (const QueueAccount& queue : account.queues) {
    std::printf("  %s (%s%s): %s%s%s\n", queue.queue.c_str(), queue.ppd.c_str(), queue.cupsCopy ? ", CUPS's copy" : "",
                queue.outcome.c_str(),
                queue.newPPD.empty() ? "" : (" from " + queue.newPPD).c_str(),
                queue.reason.empty() ? "" : (" - " + queue.reason).c_str());
    for (const SettingDecision& setting : queue.settings) {
      if (setting.carried) continue;
      std::printf("    %s=%s not carried: %s (new default: %s)\n", setting.option.c_str(), setting.value.c_str(),
                  setting.reason.c_str(), setting.newDefault.empty() ? "none" : setting.newDefault.c_str());
    }
  }
  for (const FileAccount& file : account.files) std::printf("  remove %s: %s\n", file.path.c_str(), file.result.c_str());
}

}  // namespace

void printRunSummary(const std::string& reportPath, const std::string& reportError) {
  const SetupSettings& s = settings();
  const RunAccount& account = runAccount();
  const RunCounts c = countRun(account);
  std::fflush(stderr);
  // A piped answer leaves the prompt's line open.
  if (consoleAsked()) std::printf("\n");
  if (s.preview) std::printf("Vela 4.0-5 setup preview: nothing was changed; a real run would do this.\n");
  std::printf("Vela 4.0-5 setup: %s: %s.\n", whatRan(s).c_str(),
              account.completed ? "completed" : ("ended early: " + account.reason).c_str());
  std::printf("Queues: %d updated, %d up to date, %s, %d without a new PPD, %d left by the administrator's answer, "
              "%d restored, %d not restored, %d removed.\n",
              c.updated, c.upToDate, keptText(account, c.kept).c_str(), c.noNewPPD, c.skipped, c.restored,
              c.notRestored, c.removed);
  // CUPS's copies (lab1.ppd.O) are updated with their queues but are no queues.
  if (c.cupsCopies.handled() > 0) {
    const CupsCopyCounts& copies = c.cupsCopies;
    std::printf("CUPS copies of queue PPDs: %d updated, %d up to date, %d kept as they were, %d without a new PPD, "
                "%d left by the administrator's answer.\n",
                copies.updated, copies.upToDate, copies.kept, copies.noNewPPD, copies.skipped);
  }
  std::printf("Chosen defaults not carried: %d.\n", c.settingsNotCarried);
  if (c.notRemoved > 0) std::printf("Queues the scheduler did not answer the removal of: %d.\n", c.notRemoved);
  if (s.deinstall) std::printf("Files removed: %d, not possible: %d.\n", c.filesRemoved, c.filesNotRemoved);
  if (!s.deinstall && !s.restore) {
    std::printf("Product files copied: %zu, failed: %zu, changed: %d.\n", account.filesCopied.size(),
                account.filesFailed.size(), account.filesChanged);
  }
  const CupsRestartAccount& restart = cupsRestartAccount();
  const std::string& leftAlone = restart.leftAloneBecause;
  if (s.preview && !leftAlone.empty()) {
    std::printf("CUPS would be restarted: no, %s.\n", leftAlone.c_str());
  } else if (s.preview && restart.printingAtStart < 0) {  // no count without a scheduler to ask
    std::printf("CUPS would be restarted: %s (no CUPS scheduler answers).\n", cupsRestartDone() ? "yes" : "no");
  } else if (s.preview) {
    std::printf("CUPS would be restarted: %s (jobs printing now: %d).\n", cupsRestartDone() ? "yes" : "no",
                restart.printingAtStart);
  } else {
    std::printf("CUPS restarted: %s", restart.restarted ? "yes" : "no");
    if (restart.restarted) std::printf(", after waiting %.1f s for printing jobs", restart.waitedSeconds);
    if (!leftAlone.empty()) std::printf(", %s", leftAlone.c_str());
    std::printf(".\n");
  }
  if (s.preview) printQueueDetails(account);
  std::printf("Log: %s\n", s.logPath.c_str());
  if (reportError.empty()) {
    std::printf("Report: %s\n", reportPath.c_str());
  } else {
    std::printf("Report: %s could not be written: %s\n", reportPath.c_str(), reportError.c_str());
  }
  std::fflush(stdout);
}
