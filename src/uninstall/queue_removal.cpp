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

#include "driver/host_changes.h"
#include "driver/run_account.h"
#include "driver/settings.h"
#include "driver/shell.h"
#include "driver/status_line.h"
#include "driver/text.h"
#include "driver/update_log.h"
#include "uninstall/file_removal.h"

namespace {

int runLogged(const std::string& command) {
  logLine("Executing command:\n\t" + command);
  return runHostCommand(command);
}

void pauseOneSecond() {
  unsigned left = 1;
  while (left > 0) left = sleep(left);
}

void refuseName(const std::string& name, const char* what) {
  logLine(strFormat("Queue name '%s' is not a plain file name: %s left alone.", name.c_str(), what));
}

// lpadmin -x, and when that fails an lpstat query, a pause and one retry.
void removeFromSpooler(const std::string& name) {
  const SetupSettings& s = settings();
  const std::string queue = shellWord(name);
  const std::string remove = shellWord(s.lpadmin) + " -x" + queue + " 2>/dev/null";
  if (runLogged(remove) == 0) return;
  runLogged(shellWord(s.lpstat) + " -p" + queue + " -l > /dev/null");
  pauseOneSecond();
  runLogged(remove);
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
    deleteQueue(name);
    removePrinterDir(name);
    logLine(strFormat("Deleting the Vela printer: %s.", name.c_str()));
    QueueAccount removed;
    removed.queue = name;
    removed.outcome = "removed";
    runAccount().queues.push_back(std::move(removed));
  }
}

int deleteQueue(const std::string& name) {
  const int printSystem = settings().printSystem;
  if (printSystem != kPrintSystemUnknown && printSystem != kPrintSystemLp && printSystem != kPrintSystemCups) {
    return 0;
  }
  removeFromSpooler(name);
  if (!isPlainEntryName(name)) {
    refuseName(name, "its device entry and model file are");
    return 1;
  }
  removeDeviceEntry(name);
  retireModelFile(name);
  return 1;
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
