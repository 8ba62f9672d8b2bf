// Restoring queues from their backups. A backup is used only when it is a
// regular file of its own that libcups opens as a PPD; the swap goes through
// the whole-file writer both ways, so a link is never written through and a
// failure leaves the queue's PPD whole. Running it twice brings the upgraded
// PPDs back.
#include "printers/ppd_restore.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>

#include "driver/atomic_file.h"
#include "driver/console.h"
#include "driver/run_account.h"
#include "driver/status_line.h"
#include "driver/text.h"
#include "driver/update_log.h"
#include "printers/ppd_merge.h"
#include "printers/printer_update.h"

namespace {

// Why the backup cannot stand in for the queue's PPD; empty when it can.
std::string backupRefusal(const std::string& backup) {
  struct stat info {};
  if (lstat(backup.c_str(), &info) != 0) return "no backup " + backup;
  if (!S_ISREG(info.st_mode)) return "the backup " + backup + " is not a regular file";
  if (!opensAsPPD(backup)) return "the backup " + backup + " is not a PPD file";
  return {};
}

// Swaps the two files through a private copy of the current PPD. Empty on
// success, else what failed.
std::string swapWithBackup(const std::string& ppdFile, const std::string& backup) {
  std::string current = "/tmp/korrsXXXXXX";
  const int fd = mkstemp(current.data());
  if (fd < 0) return std::string("private copy: ") + std::strerror(errno);
  close(fd);
  std::string error;
  if (!copyFile(ppdFile, current)) {
    error = "copy " + ppdFile + ": " + std::strerror(errno);
  } else if (replaceFileWithCopy(backup, ppdFile, error) != 0) {
    error = "replace " + ppdFile + ": " + error;
  } else if (replaceFileWithCopy(current, backup, error) != 0) {
    error = "keep the replaced PPD in " + backup + ": " + error;
  }
  unlink(current.c_str());
  return error;
}

// One queue: the refusal or the swap, logged and accounted.
bool restoreQueue(const PrinterEntry& printer, QueueAccount& account) {
  const std::string backup = backupNameFor(printer.ppdFile, printer.queueName);
  logLine(std::string(58, '='));
  logLine(strFormat("Printer = %s with PPD=%s\n", printer.queueName.c_str(), printer.ppdFile.c_str()));
  std::string why = backupRefusal(backup);
  if (why.empty()) why = swapWithBackup(printer.ppdFile, backup);
  if (!why.empty()) {
    logLine(strFormat("Not restoring printer %s: %s.", printer.queueName.c_str(), why.c_str()));
    account.outcome = "not-restored";
    account.reason = why;
    return false;
  }
  logLine(strFormat("Restored printer %s: %s from %s.", printer.queueName.c_str(), printer.ppdFile.c_str(),
                    backup.c_str()));
  account.outcome = "restored";
  account.backup = backup;
  ++runAccount().cupsReadChanges;
  return true;
}

}  // namespace

int restorePrinters(const PrinterList& list, int count, int query) {
  const std::size_t n = std::min(static_cast<std::size_t>(std::max(count, 0)), list.entries.size());
  std::set<std::string> seen;
  int restored = 0;
  bool stop = false;
  for (std::size_t i = 0; i < n && !stop; ++i) {
    const PrinterEntry& printer = list.entries[i];
    // CUPS's own copies (lab1.ppd.O) stand beside the queue's PPD: only
    // <queue>.ppd is the queue's, and each queue is restored once.
    if (isCupsCopy(printer)) continue;
    if (!seen.insert(printer.queueName).second) continue;
    showStep("Restoring queues", i + 1, n, printer.queueName);
    QueueAccount account{printer.queueName, printer.ppdFile, printer.modelText, {}, "skipped", {}, {}, {}};
    if (askForQueue(strFormat("Do you want to restore printer: %s? ", printer.queueName.c_str()), query, stop)) {
      restored += restoreQueue(printer, account) ? 1 : 0;
    } else {
      account.reason = stop ? "the administrator answered break" : "the administrator answered no";
    }
    runAccount().queues.push_back(std::move(account));
  }
  return restored;
}
