// De-installation of the product's print queues: each queue named in the
// information file is deleted from the print system, and what the product
// kept for it (model file, device entry, directory and script) goes too.
// Queue names come from a file anyone with access may have edited, so they
// reach commands only as single shell words and paths only as plain names.
// Every removal goes through the run's HostChanges.
#include "uninstall/queue_removal.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "discovery/scheduler_exchange.h"
#include "driver/host_changes.h"
#include "driver/run_account.h"
#include "driver/settings.h"
#include "driver/shell.h"
#include "driver/status_line.h"
#include "driver/text.h"
#include "driver/update_log.h"
#include "uninstall/file_removal.h"

namespace {

// Queue commands talk to the scheduler: each is given up after the time of
// one scheduler request, whatever answers on its port.
constexpr unsigned kQueueCommandSeconds = static_cast<unsigned>(kSchedulerRequestTime.count());

int runLogged(const std::string& command, bool& gaveUp) {
  logLine("Executing command:\n\t" + command);
  const int status = runHostCommandBounded(command, kQueueCommandSeconds, gaveUp);
  if (gaveUp) logLine(strFormat("The command was given up after %u seconds.", kQueueCommandSeconds));
  return status;
}

void pauseOneSecond() {
  unsigned left = 1;
  while (left > 0) left = sleep(left);
}

void refuseName(const std::string& name, const char* what) {
  logLine(strFormat("Queue name '%s' is not a plain file name: %s left alone.", name.c_str(), what));
}

// lpadmin -x, and when that fails an lpstat query, a pause and one retry.
// False when the last lpadmin was given up: the scheduler did not answer,
// so the queue may still be there.
bool removeFromSpooler(const std::string& name) {
  const SetupSettings& s = settings();
  const std::string queue = shellWord(name);
  const std::string remove = shellWord(s.lpadmin) + " -x" + queue + " 2>/dev/null";
  bool gaveUp = false;
  if (runLogged(remove, gaveUp) == 0) return true;
  runLogged(shellWord(s.lpstat) + " -p" + queue + " -l > /dev/null", gaveUp);
  pauseOneSecond();
  runLogged(remove, gaveUp);
  return !gaveUp;
}

// Entries of /dev that belong to the host, whatever queue shares their name:
// device nodes, directories, and the kernel's links into /proc (stdin, fd).
bool isHostDeviceEntry(const std::string& device) {
  struct stat st;
  if (lstat(device.c_str(), &st) != 0) return false;
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) || S_ISDIR(st.st_mode)) return true;
  if (!S_ISLNK(st.st_mode)) return false;
  char target[256];
  const ssize_t length = readlink(device.c_str(), target, sizeof target - 1);
  return length > 0 && startsWith(std::string_view(target, static_cast<std::size_t>(length)), "/proc/");
}

// The queue's entry in /dev, but never the null device nor a host entry that
// merely shares the queue's name.
void removeDeviceEntry(const std::string& name) {
  const std::string device = "/dev/" + name;
  if (device == "/dev/null" || !entryExists(device) || isHostDeviceEntry(device)) return;
  host().removeEntry(device);
}

// The model directory of the print system, or empty when it keeps none.
std::string modelDir() {
  const SetupSettings& s = settings();
  if (s.printSystem == kPrintSystemLp) return "/usr/spool/lp/model";
  // A CUPS host without a data directory has no model directory to clean.
  if (s.printSystem == kPrintSystemCups && !s.cupsDataDir.empty()) return s.cupsDataDir + "/model";
  return {};
}

// Moves the model file aside to its ".old" name; what cannot be moved goes.
void retireModelFile(const std::string& name) {
  const std::string dir = modelDir();
  if (dir.empty()) return;
  const std::string model = dir + "/" + name;
  if (!entryExists(model)) return;
  host().renameEntry(model, model + ".old");
  if (entryExists(model)) host().removeEntry(model);
}

}  // namespace

bool isPlainEntryName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

void removeQueues(const PrinterList& list) {
  for (std::size_t i = 1; i < list.entries.size(); ++i) {
    const std::string& name = list.entries[i].queueName;
    if (name.empty() || name == "Default") continue;
    showStep("Removing queues", i, list.entries.size() - 1, name);
    const bool reached = deleteQueue(name) >= 0;
    removePrinterDir(name);
    QueueAccount removed;
    removed.queue = name;
    removed.outcome = "removed";
    if (!reached) {
      removed.outcome = "not-removed";
      removed.reason = strFormat("the CUPS scheduler did not answer within %u seconds", kQueueCommandSeconds);
      logLine(strFormat("The Vela printer %s may still be there: %s.", name.c_str(), removed.reason.c_str()));
    }
    logLine(strFormat("Deleting the Vela printer: %s.", name.c_str()));
    runAccount().queues.push_back(std::move(removed));
  }
}

int deleteQueue(const std::string& name) {
  const int printSystem = settings().printSystem;
  if (printSystem != kPrintSystemUnknown && printSystem != kPrintSystemLp && printSystem != kPrintSystemCups) {
    return 0;
  }
  const int result = removeFromSpooler(name) ? 1 : -1;
  if (!isPlainEntryName(name)) {
    refuseName(name, "its device entry and model file are");
    return result;
  }
  removeDeviceEntry(name);
  retireModelFile(name);
  return result;
}

int removePrinterDir(const std::string& name) {
  if (!isPlainEntryName(name)) {
    refuseName(name, "its directory and script are");
    return -1;
  }
  const std::string& installDir = settings().installDir;
  const std::string dir = installDir + "/" + name;
  if (!entryExists(dir)) return -1;
  const int result = removeTree(dir);
  const std::string script = dir + ".sh";
  if (entryExists(script)) host().removeEntry(script);
  return result;
}
