// The last step of a de-installation: the product's own files, inside and
// outside the installation directory, and its directories with everything
// in them. Each item is tried and logged whatever became of the others.
#include "uninstall/file_removal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "driver/settings.h"
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

// One entry of an open directory, judged by what it leads to: a directory of
// its own is emptied and removed, a regular file (or a link to one) and a
// link to a directory elsewhere are unlinked, anything else stays.
void removeEntryAt(int dirFd, const char* name) {
  struct stat target;
  if (fstatat(dirFd, name, &target, 0) != 0) return;  // a link that leads nowhere
  struct stat self;
  if (fstatat(dirFd, name, &self, AT_SYMLINK_NOFOLLOW) != 0) return;
  if (S_ISDIR(target.st_mode) && !S_ISLNK(self.st_mode)) {
    const int childFd = openDirectoryAt(dirFd, name);
    if (childFd < 0) return;
    removeEntriesOf(childFd);  // closes childFd
    unlinkat(dirFd, name, AT_REMOVEDIR);
  } else if (S_ISREG(target.st_mode) || S_ISDIR(target.st_mode)) {
    unlinkat(dirFd, name, 0);
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

std::string itemPath(const Item& item, const std::string& installDir) {
  return item.inInstallDir ? installDir + item.path : item.path;
}

const char* fileVerdict(const std::string& path, int remove) {
  if (!entryExists(path)) return kNotPossible;
  if (remove && std::remove(path.c_str()) != 0) return kNotPossible;
  return kOk;
}

const char* directoryVerdict(const std::string& path, int remove) {
  if (!entryExists(path)) return kNotPossible;
  if (remove && removeTree(path) != 0) return kNotPossible;
  return kOk;
}

}  // namespace

bool entryExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

int removeTree(const std::string& path) {
  if (!entryExists(path)) return -1;
  const int fd = openDirectoryAt(AT_FDCWD, path.c_str());
  if (fd < 0) return -1;
  removeEntriesOf(fd);
  return rmdir(path.c_str()) == 0 ? 0 : -1;
}

int removeInstalledFiles(int remove) {
  const std::string& installDir = settings().installDir;
  if (chdir(installDir.c_str()) != 0) {
    logLine(strFormat("The installation directory:\n\t'%s'\ndoes not exist or is not OK.", installDir.c_str()));
    return 0;
  }
  for (const Item& item : kFiles) {
    const std::string path = itemPath(item, installDir);
    logLine(strFormat("Deleting file: '%s' - %s", path.c_str(), fileVerdict(path, remove)));
  }
  for (const Item& item : kDirectories) {
    const std::string path = itemPath(item, installDir);
    logLine(strFormat("Deleting directory: '%s' - %s", path.c_str(), directoryVerdict(path, remove)));
  }
  return 1;
}
