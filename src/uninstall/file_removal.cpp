// The last step of a de-installation: the product's own files, inside and
// outside the installation directory, and its directories with everything
// in them. Each item is tried and logged whatever became of the others.
// Nothing is removed unless the directory holds the product's information
// file and is not the root directory: a mistyped -u must not empty the host.
// Every removal goes through the run's HostChanges.
#include "uninstall/file_removal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/host_changes.h"
#include "driver/run_account.h"
#include "driver/settings.h"
#include "driver/status_line.h"
#include "driver/text.h"
#include "driver/update_log.h"

namespace {

// One listed item: a path inside the installation directory, or a fixed one.
struct Item {
  bool inInstallDir;
  const char* path;
};

// The product's files in removal order. The filter link is listed twice: the
// second attempt finds it gone.
constexpr Item kFiles[] = {
    {true, "/vela"},           {true, "/velaInfo4.0"},        {true, "/bin/korgsfilter"},
    {false, "/usr/bin/korgsfilter"}, {true, "/etc/UNINSTALLVELA"}, {true, "/bin/setup"},
    {true, "/etc/vela4.0.png"}, {true, "/VELAINST.CONF"},     {true, "/etc/VELAINST.CONF"},
    {false, "/usr/bin/korgsfilter"}, {true, "/bin/nc"},
};

constexpr Item kDirectories[] = {{true, "/Default"}, {true, "/ppd"}, {true, "/etc"}, {true, "/bin"}};

constexpr const char* kOk = "OK.";
constexpr const char* kNotPossible = "Not possible!";

int openDirectoryAt(int parentFd, const char* name) {
  int fd;
  do {
    fd = openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

void removeEntriesOf(int dirFd);

// Empties and removes the directory name of the directory open on parentFd;
// a link there is not entered. 0 when it went, -1 otherwise.
int removeTreeAt(int parentFd, const char* name) {
  const int fd = openDirectoryAt(parentFd, name);
  if (fd < 0) return -1;
  removeEntriesOf(fd);  // closes fd
  return host().unlinkAt(parentFd, name, AT_REMOVEDIR) == 0 ? 0 : -1;
}

// One entry of an open directory, judged by what it leads to: a directory of
// its own is emptied and removed, a regular file (or a link to one) and a
// link to a directory elsewhere are unlinked, anything else stays.
void removeEntryAt(int dirFd, const char* name) {
  struct stat target;
  if (fstatat(dirFd, name, &target, 0) != 0) return;  // a link that leads nowhere
  struct stat self;
  if (fstatat(dirFd, name, &self, AT_SYMLINK_NOFOLLOW) != 0) return;
  if (S_ISDIR(target.st_mode) && !S_ISLNK(self.st_mode)) {
    removeTreeAt(dirFd, name);
  } else if (S_ISREG(target.st_mode) || S_ISDIR(target.st_mode)) {
    host().unlinkAt(dirFd, name, 0);
  }
}

// Removes what it may from the directory open on dirFd, then closes it.
void removeEntriesOf(int dirFd) {
  DIR* dir = fdopendir(dirFd);
  if (dir == nullptr) {
    close(dirFd);
    return;
  }
  while (const dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    removeEntryAt(dirfd(dir), entry->d_name);
  }
  closedir(dir);
}

// The directory that holds relative (below the directory open on baseFd),
// entered one component at a time and never through a link; its descriptor,
// or -1. name receives the last component.
int openParentWithin(int baseFd, const std::string& relative, std::string& name) {
  int fd = fcntl(baseFd, F_DUPFD_CLOEXEC, 0);
  std::size_t from = 0;
  for (std::size_t slash; fd >= 0 && (slash = relative.find('/', from)) != std::string::npos; from = slash + 1) {
    const int next = openDirectoryAt(fd, relative.substr(from, slash - from).c_str());
    close(fd);
    fd = next;
  }
  name = relative.substr(from);
  return fd;
}

// Whether the entry name exists in the directory open on dirFd (a dangling
// link counts), and when remove is set, whether removing it worked.
bool removedAt(int dirFd, const std::string& name, bool directory, int remove) {
  struct stat st;
  if (fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (!remove) return true;
  if (directory) return removeTreeAt(dirFd, name.c_str()) == 0;
  return host().unlinkAt(dirFd, name.c_str(), 0) == 0 ||
         (errno == EISDIR && host().unlinkAt(dirFd, name.c_str(), AT_REMOVEDIR) == 0);
}

// The verdict on one listed item. Items of the installation directory are
// reached from instFd only, so a link on their way cannot lead elsewhere.
const char* verdict(const Item& item, int instFd, bool directory, int remove) {
  const std::string path = item.path;
  if (!item.inInstallDir) {
    if (!entryExists(path)) return kNotPossible;
    return remove && host().removeEntry(path) != 0 ? kNotPossible : kOk;
  }
  std::string name;
  const int parentFd = openParentWithin(instFd, path.substr(1), name);
  if (parentFd < 0) return kNotPossible;
  const bool done = removedAt(parentFd, name, directory, remove);
  close(parentFd);
  return done ? kOk : kNotPossible;
}

std::string itemPath(const Item& item, const std::string& installDir) {
  return item.inInstallDir ? installDir + item.path : item.path;
}

std::string missingDirectory(const std::string& dir) {
  return strFormat("The installation directory:\n\t'%s'\ndoes not exist or is not OK.", dir.c_str());
}

bool holdsRegularFile(const std::string& dir, const char* name) {
  struct stat st;
  return lstat((dir + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

bool entryExists(const std::string& path) { return host().exists(path); }

std::string notAnInstallation(const std::string& dir) {
  struct stat st;
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return missingDirectory(dir);
  char resolved[PATH_MAX];
  const char* why = nullptr;
  if (realpath(dir.c_str(), resolved) != nullptr && std::strcmp(resolved, "/") == 0) {
    why = "is the root directory";
  } else if (!holdsRegularFile(dir, "velaInfo4.0") && !holdsRegularFile(dir, "velaInfo2.0")) {
    why = "holds no velaInfo4.0 or velaInfo2.0";
  }
  return why == nullptr ? std::string()
                        : strFormat("Nothing is removed: the installation directory '%s' %s.", dir.c_str(), why);
}

int removeTree(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const int parentFd = open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (parentFd < 0) return -1;
  const int result = name.empty() ? -1 : removeTreeAt(parentFd, name.c_str());
  close(parentFd);
  return result;
}

int removeInstalledFiles(int remove) {
  const std::string& installDir = settings().installDir;
  std::string refusal = notAnInstallation(installDir);
  if (refusal.empty() && chdir(installDir.c_str()) != 0) refusal = missingDirectory(installDir);
  if (!refusal.empty()) {
    logLine(refusal);
    return 0;
  }
  const int instFd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  showStep("Removing the product's files");
  for (const Item& item : kFiles) {
    const std::string path = itemPath(item, installDir);
    const char* result = verdict(item, instFd, false, remove);
    logLine(strFormat("Deleting file: '%s' - %s", path.c_str(), result));
    runAccount().files.push_back({path, result});
  }
  for (const Item& item : kDirectories) {
    const std::string path = itemPath(item, installDir);
    const char* result = verdict(item, instFd, true, remove);
    logLine(strFormat("Deleting directory: '%s' - %s", path.c_str(), result));
    runAccount().files.push_back({path, result});
  }
  if (instFd >= 0) close(instFd);
  return 1;
}
