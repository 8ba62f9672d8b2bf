// The run-wide notes of what needs a sync, and the sync step itself.
#include "driver/durable_changes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <set>

#include "driver/text.h"
#include "driver/settings.h"
#include "driver/status_line.h"
#include "driver/update_log.h"

namespace {

std::set<std::string>& changedDirectories() {
  static std::set<std::string> dirs;
  return dirs;
}

std::set<std::string>& writtenFiles() {
  static std::set<std::string> files;
  return files;
}

// path made absolute now, since the run changes its working directory.
std::string absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[4096];
  return getcwd(cwd, sizeof cwd) != nullptr ? std::string(cwd) + "/" + path : path;
}

std::string parentOf(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

int openForSync(const std::string& path, int flags) {
  int fd;
  do fd = open(path.c_str(), flags | O_RDONLY | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  return fd;
}

bool syncFailed = false;

void logSyncFailure(const char* step, const std::string& path) {
  syncFailed = true;
  logLine(strFormat("Could not %s %s: %s.", step, path.c_str(), std::strerror(errno)));
}

// syncfs once for each file system that holds one of the written files;
// returns how many.
std::size_t syncWrittenFileSystems() {
  std::set<dev_t> synced;
  for (const std::string& file : writtenFiles()) {
    const std::string dir = parentOf(file);
    const int fd = openForSync(dir, O_DIRECTORY);
    if (fd < 0) {
      if (errno != ENOENT) logSyncFailure("open for a sync", dir);
      continue;
    }
    struct stat info;
    if (fstat(fd, &info) == 0 && synced.insert(info.st_dev).second && syncfs(fd) != 0) {
      logSyncFailure("sync the file system of", file);
    }
    close(fd);
  }
  writtenFiles().clear();
  return synced.size();
}

// Returns how many directories it synced.
std::size_t syncChangedDirectories() {
  const std::size_t count = changedDirectories().size();
  for (const std::string& dir : changedDirectories()) {
    const int fd = openForSync(dir, O_DIRECTORY);
    if (fd < 0) {
      if (errno != ENOENT) logSyncFailure("open for a sync", dir);
      continue;
    }
    if (fsync(fd) != 0 && errno != EINVAL) logSyncFailure("sync the directory", dir);
    close(fd);
  }
  changedDirectories().clear();
  return count;
}

}  // namespace

void noteDirectoryChanged(const std::string& dir) { changedDirectories().insert(absolute(dir.empty() ? "." : dir)); }

void notePathChanged(const std::string& path) { noteDirectoryChanged(parentOf(absolute(path))); }

void noteFileWritten(const std::string& path) { writtenFiles().insert(absolute(path)); }

void syncPlacedChanges() {
  showStep("Syncing to disk");
  const auto start = std::chrono::steady_clock::now();
  const std::size_t fileSystems = syncWrittenFileSystems();
  const std::size_t directories = syncChangedDirectories();
  // A run refused as not root's changed nothing but its log: the refusal is all it prints.
  if (fileSystems + directories == 0 || settings().userId != 0) return;
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  debugLine(strFormat("Synced %zu file systems and %zu directories in %.3f seconds.\n", fileSystems, directories,
                      took.count()));
}

bool everySyncSucceeded() { return !syncFailed; }

bool syncFileData(const std::string& path) {
  const int fd = openForSync(path, 0);
  if (fd < 0) return false;
  const bool synced = fsync(fd) == 0;
  const int saved = errno;
  close(fd);
  errno = saved;
  return synced;
}
