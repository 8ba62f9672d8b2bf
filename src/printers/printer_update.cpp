// The printer update: for each listed queue, after the administrator agrees,
// the new PPD with its old defaults is made; a queue that already has exactly
// that PPD is left alone, any other gets a backup of its PPD, the new one in
// its place and its product configuration brought up to date; then CUPS
// restarts if a queue's PPD changed. What became of each queue goes into the
// run's account.
#include "printers/printer_update.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <new>

#include "discovery/cups_restart.h"
#include "driver/atomic_file.h"
#include "driver/console.h"
#include "driver/regular_file.h"
#include "driver/run_account.h"
#include "driver/status_line.h"
#include "driver/text.h"
#include "driver/update_log.h"

namespace {

std::string directoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The queue's entry in the run's account.
QueueAccount& accountQueue(const PrinterEntry& printer) {
  QueueAccount entry;
  entry.queue = printer.queueName;
  entry.ppd = printer.ppdFile;
  entry.model = printer.modelText;
  entry.cupsCopy = isCupsCopy(printer);
  runAccount().queues.push_back(std::move(entry));
  return runAccount().queues.back();
}

// Backup, then the merged PPD over the queue's own. Without a complete
// backup the old PPD would be kept nowhere: it stays.
void replaceQueuePPD(const PrinterEntry& printer, const std::string& outputName, UpdateRun& run,
                     QueueAccount& account) {
  std::string whyNot;
  const std::size_t backupsBefore = run.backupsWritten.size();
  if (!saveOldPPD(printer.ppdFile, printer.queueName, run, whyNot)) {
    logLine(strFormat("Keeping %s as it was: %s.", printer.ppdFile.c_str(), whyNot.c_str()));
    account.outcome = "kept";
    account.reason = whyNot;
    return;
  }
  // CUPS's copy beside the queue's PPD shares the backup made from that PPD.
  if (run.backupsWritten.size() > backupsBefore) account.backup = backupNameFor(printer.ppdFile, printer.queueName);
  // The merge was made from this entry's own PPD, so it goes over that file only.
  if (installNewPPD(printer.ppdFile, outputName)) {
    account.outcome = "updated";
    // CUPS's copy beside the queue's PPD is not read by the scheduler.
    if (!account.cupsCopy) ++runAccount().cupsReadChanges;
  } else {
    account.outcome = "kept";
    account.reason = "the merged PPD could not replace it";
  }
}

// One queue: merge; then, unless the queue already has exactly that PPD,
// backup, install and configuration.
void updateQueue(const std::string& ppdDir, const PrinterEntry& printer, OptionList& options, UpdateRun& run) {
  QueueAccount& account = accountQueue(printer);
  int count = 0;
  std::string outputName;
  logLine(std::string(58, '='));
  logLine(strFormat("Printer = %s with PPD=%s\n", printer.queueName.c_str(), printer.ppdFile.c_str()));
  readOldDefaults(printer.ppdFile, options, count);
  MergeResult merged;
  makeNewPPD(ppdDir, options, count, printer, outputName, &merged);
  account.newPPD = merged.found;
  freeOptList(options);
  // A re-run must not write the queue, its backup or its configuration again:
  // the backup would then no longer hold the PPD the queue had before.
  if (!outputName.empty() && sameContent(outputName, printer.ppdFile)) {
    unlink(outputName.c_str());
    logLine(strFormat("Printer %s is up to date.", printer.queueName.c_str()));
    account.outcome = "up-to-date";
    return;
  }
  if (outputName.empty()) {
    installNewPPD(printer.ppdFile, outputName);  // logs that nothing replaced it
    account.outcome = merged.found.empty() ? "no-new-ppd" : "kept";
    if (!merged.found.empty()) account.reason = "the merged PPD could not be made";
  } else {
    replaceQueuePPD(printer, outputName, run, account);
    unlink(outputName.c_str());
    if (account.outcome == "updated") account.settings = std::move(merged.decisions);
  }
  processPrinterConfig(printer.queueName);
}

}  // namespace

// Updates the first count queues of the list, then restarts CUPS when a
// queue's PPD changed.
int updatePrinters(const std::string& ppdDir, PrinterList& list, int count, int query) {
  std::unique_ptr<OptionList> options(new (std::nothrow) OptionList);
  if (!options) {
    logLine("Cannot allocate memory for option list.\n");
    return 0;
  }
  const std::size_t n = std::min(static_cast<std::size_t>(std::max(count, 0)), list.entries.size());
  UpdateRun run;
  for (std::size_t i = 0; i < n; ++i) run.listedPPDs.insert(list.entries[i].ppdFile);
  for (std::size_t i = 0; i < n; ++i) {
    bool stop = false;
    showStep("Updating queues", i + 1, n, list.entries[i].queueName);
    if (askForQueue(strFormat("Do you want to update printer: %s? ", list.entries[i].queueName.c_str()), query, stop)) {
      updateQueue(ppdDir, list.entries[i], *options, run);
    } else {
      QueueAccount& skipped = accountQueue(list.entries[i]);
      skipped.outcome = "skipped";
      skipped.reason = stop ? "the administrator answered break" : "the administrator answered no";
    }
    if (stop) {
      for (std::size_t rest = i + 1; rest < n; ++rest) {
        QueueAccount& left = accountQueue(list.entries[rest]);
        left.outcome = "skipped";
        left.reason = "the administrator answered break";
      }
      return 1;
    }
  }
  options.reset();
  restartCups();
  return 1;
}

std::string backupNameFor(const std::string& ppdFile, const std::string& queueName) {
  std::string configDir = directoryOf(directoryOf(ppdFile));
  if (configDir.back() != '/') configDir += '/';
  return configDir + queueName + ".ppd.rpmsave";
}

// Copies the queue's PPD to its backup, unless this run's backup of the
// queue is already there or comes from the queue's own PPD entry. The copy
// is written beside the backup and renamed over it, so a link there is
// replaced, not followed, and an earlier backup stays until a complete one
// takes its place.
int saveOldPPD(const std::string& ppdFile, const std::string& queueName, UpdateRun& run, std::string& error) {
  const std::string backup = backupNameFor(ppdFile, queueName);
  const std::string ownPPD = directoryOf(ppdFile) + "/" + queueName + ".ppd";
  if (run.backupsWritten.count(backup) != 0) {
    logLine(strFormat("saving %s to %s: skipped, this run has already saved the queue's PPD there", ppdFile.c_str(),
                      backup.c_str()));
    return 1;
  }
  if (ppdFile != ownPPD && run.listedPPDs.count(ownPPD) != 0) {
    logLine(strFormat("saving %s to %s: skipped, the backup is made from %s", ppdFile.c_str(), backup.c_str(),
                      ownPPD.c_str()));
    return 1;
  }
  struct stat source {};
  const int mode = stat(ppdFile.c_str(), &source) == 0 ? static_cast<int>(source.st_mode & 0777) : 0644;
  std::string why;
  const int status = replaceFileWithCopy(ppdFile, backup, why, mode);
  logLine(strFormat("saving %s to %s: result=%d", ppdFile.c_str(), backup.c_str(), status));
  if (status != 0) {
    error = "no complete backup in " + backup + ": " + why;
    return 0;
  }
  run.backupsWritten.insert(backup);
  return 1;
}

// Replaces the queue's PPD by the merged file, never by part of it.
int installNewPPD(const std::string& ppdFile, const std::string& outputName) {
  std::string error = "no merged PPD";
  const int status = outputName.empty() ? -1 : replaceFileWithCopy(outputName, ppdFile, error);
  logLine(strFormat("Copying %s to %s: result=%d", outputName.c_str(), ppdFile.c_str(), status));
  if (status != 0) logLine(strFormat("Keeping %s as it was: %s.", ppdFile.c_str(), error.c_str()));
  return status == 0 ? 1 : 0;
}
