// The host itself behind HostChanges: each operation is the one system call
// or shell command it stands for, and the object that is in place for the
// run.
#include "driver/host_changes.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "driver/durable_changes.h"
#include "driver/shell.h"

namespace {

std::unique_ptr<HostChanges>& current() {
  static std::unique_ptr<HostChanges> object = std::make_unique<RealHostChanges>();
  return object;
}

}  // namespace

std::string directoryOfFd(int fd) {
  char target[4096];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
  return length > 0 && target[0] == '/' ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}

HostChanges& host() { return *current(); }

HostChanges& realHost() {
  static RealHostChanges object;
  return object;
}

void startPreview() {
  current() = makePreviewHost();
  std::printf("Preview: nothing on this host is changed, and no question is asked: this shows what a run "
              "answering yes (all) to every question would do.\n");
  std::fflush(stdout);
}

int RealHostChanges::runCommand(const std::string& command) { return runShell(command); }

int RealHostChanges::copyFiles(const std::string& command, const std::vector<FileCopy>& copies) {
  for (const FileCopy& copy : copies) noteFileWritten(copy.target);
  return runShell(command);
}

int RealHostChanges::makeDirectory(const std::string& path, int mode) {
  notePathChanged(path);
  return mkdir(path.c_str(), static_cast<mode_t>(mode));
}

int RealHostChanges::changeMode(const std::string& path, int mode) {
  return chmod(path.c_str(), static_cast<mode_t>(mode));
}

int RealHostChanges::makeLink(const std::string& target, const std::string& linkName) {
  notePathChanged(linkName);
  return symlink(target.c_str(), linkName.c_str());
}

int RealHostChanges::removeEntry(const std::string& path) {
  notePathChanged(path);
  return std::remove(path.c_str());
}

int RealHostChanges::renameEntry(const std::string& from, const std::string& to) {
  notePathChanged(from);
  notePathChanged(to);
  return std::rename(from.c_str(), to.c_str());
}

int RealHostChanges::unlinkAt(int dirFd, const char* name, int flags) {
  if (const std::string dir = directoryOfFd(dirFd); !dir.empty()) noteDirectoryChanged(dir);
  return unlinkat(dirFd, name, flags);
}

std::string RealHostChanges::freshFileTemplate(const std::string& besideTarget) { return besideTarget; }

int RealHostChanges::placeFile(const std::string& fresh, const std::string& target) {
  notePathChanged(target);
  return std::rename(fresh.c_str(), target.c_str());
}

bool RealHostChanges::exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

bool RealHostChanges::isDirectory(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::vector<std::string> RealHostChanges::listDirectory(const std::string& dir) {
  std::vector<std::string> names;
  DIR* directory = opendir(dir.c_str());
  if (directory == nullptr) return names;
  while (const dirent* entry = readdir(directory)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) names.push_back(entry->d_name);
  }
  const int saved = errno;
  closedir(directory);
  errno = saved;
  return names;
}

std::string RealHostChanges::readablePath(const std::string& path) { return path; }
