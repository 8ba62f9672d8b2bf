// The preview behind HostChanges (-n): no change reaches the host. Each
// command that would change it is logged as "Would run:" and taken as done;
// each other change is checked as the system call would check it and then
// only noted, so that later steps find the directories, files and links the
// run would have made and miss what it would have removed. New whole files
// are written into a private directory in /tmp, where later steps can read
// them, and which is removed when the run ends.
#include <stdlib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <map>
#include <set>

#include "driver/host_changes.h"
#include "driver/update_log.h"

namespace {

// path made absolute, without empty or "." components and a final slash.
std::string normalPath(const std::string& path) {
  std::string whole = path;
  if (whole.empty() || whole[0] != '/') {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) != nullptr) whole = std::string(cwd) + "/" + whole;
  }
  std::string result;
  std::size_t from = 0;
  while (from <= whole.size()) {
    std::size_t slash = whole.find('/', from);
    if (slash == std::string::npos) slash = whole.size();
    const std::string part = whole.substr(from, slash - from);
    if (!part.empty() && part != ".") result += "/" + part;
    from = slash + 1;
  }
  return result.empty() ? "/" : result;
}

std::string parentOf(const std::string& normal) {
  const std::size_t slash = normal.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : normal.substr(0, slash);
}

bool isBelow(const std::string& path, const std::string& dir) {
  return path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 && path[dir.size()] == '/';
}

int failWith(int error) {
  errno = error;
  return -1;
}

class PreviewHostChanges : public RealHostChanges {
 public:
  PreviewHostChanges();
  ~PreviewHostChanges() override;

  bool changesHost() const override { return false; }
  int runCommand(const std::string& command) override;
  int copyFiles(const std::string& command, const std::vector<FileCopy>& copies) override;
  int makeDirectory(const std::string& path, int mode) override;
  int changeMode(const std::string& path, int mode) override;
  int makeLink(const std::string& target, const std::string& linkName) override;
  int removeEntry(const std::string& path) override;
  int renameEntry(const std::string& from, const std::string& to) override;
  int unlinkAt(int dirFd, const char* name, int flags) override;
  std::string freshFileTemplate(const std::string& besideTarget) override;
  int placeFile(const std::string& fresh, const std::string& target) override;
  bool exists(const std::string& path) override;
  bool isDirectory(const std::string& path) override;
  std::vector<std::string> listDirectory(const std::string& dir) override;
  std::string readablePath(const std::string& path) override;

 private:
  bool noted(const std::string& normal) const;
  bool gone(const std::string& normal) const;
  bool isDirectoryItself(const std::string& normal);  // a directory, not a link to one
  void forget(const std::string& normal);
  void noteFile(const std::string& normal, const std::string& readFrom);

  std::set<std::string> directories_;                // made by the run
  std::map<std::string, std::string> files_;         // copied or written: where to read them
  std::map<std::string, std::string> links_;         // link -> its target
  std::set<std::string> removed_;                    // with everything below
  std::string privateDir_;
  std::vector<std::string> privateFiles_;
};

PreviewHostChanges::PreviewHostChanges() {
  char templ[] = "/tmp/vela-preview-XXXXXX";
  privateDir_ = mkdtemp(templ) != nullptr ? templ : "/tmp";
}

// The private files and their directory go when the run ends.
PreviewHostChanges::~PreviewHostChanges() {
  for (const std::string& file : privateFiles_) unlink(file.c_str());
  if (privateDir_ != "/tmp") rmdir(privateDir_.c_str());
}

// Whether the run would have made normal.
bool PreviewHostChanges::noted(const std::string& normal) const {
  return directories_.count(normal) != 0 || files_.count(normal) != 0 || links_.count(normal) != 0;
}

// Whether what the host has at normal would be gone: removed by the run, or
// below a directory the run would have made afresh.
bool PreviewHostChanges::gone(const std::string& normal) const {
  for (std::string path = normal;; path = parentOf(path)) {
    if (removed_.count(path) != 0 || (path != normal && directories_.count(path) != 0)) return true;
    if (path == "/") return false;
  }
}

// A directory, not a link to one, as the run would have left it.
bool PreviewHostChanges::isDirectoryItself(const std::string& normal) {
  if (directories_.count(normal) != 0) return true;
  if (noted(normal) || gone(normal)) return false;
  struct stat info;
  return lstat(normal.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Notes normal as removed, with everything below it.
void PreviewHostChanges::forget(const std::string& normal) {
  const auto below = [&](const std::string& path) { return path == normal || isBelow(path, normal); };
  std::erase_if(directories_, below);
  std::erase_if(files_, [&](const auto& entry) { return below(entry.first); });
  std::erase_if(links_, [&](const auto& entry) { return below(entry.first); });
  removed_.insert(normal);
}

// Notes a file the run would have made at normal, read from readFrom.
void PreviewHostChanges::noteFile(const std::string& normal, const std::string& readFrom) {
  links_.erase(normal);
  removed_.erase(normal);
  files_[normal] = readFrom;
}

// Logged, not run, and taken as done.
int PreviewHostChanges::runCommand(const std::string& command) {
  logLine("Would run: " + command);
  return 0;
}

// cp fails (status 1) when a source cannot be read or a target has no
// directory; it still copies the others.
int PreviewHostChanges::copyFiles(const std::string& command, const std::vector<FileCopy>& copies) {
  logLine("Would run: " + command);
  bool failed = copies.empty();
  for (const FileCopy& copy : copies) {
    const std::string source = readablePath(normalPath(copy.source));
    const std::string target = normalPath(copy.target);
    if (access(source.c_str(), R_OK) != 0 || !isDirectory(parentOf(target)) || isDirectoryItself(target)) {
      failed = true;
    } else {
      noteFile(target, source);
    }
  }
  return failed ? 256 : 0;
}

// Checked as mkdir checks, then noted; the same for the changes below.
int PreviewHostChanges::makeDirectory(const std::string& path, int) {
  const std::string normal = normalPath(path);
  if (exists(normal)) return failWith(EEXIST);
  if (!isDirectory(parentOf(normal))) return failWith(ENOENT);
  removed_.erase(normal);
  directories_.insert(normal);
  return 0;
}

int PreviewHostChanges::changeMode(const std::string& path, int) { return exists(path) ? 0 : failWith(ENOENT); }

int PreviewHostChanges::makeLink(const std::string& target, const std::string& linkName) {
  const std::string normal = normalPath(linkName);
  if (exists(normal)) return failWith(EEXIST);
  if (!isDirectory(parentOf(normal))) return failWith(ENOENT);
  removed_.erase(normal);
  links_[normal] = target;
  return 0;
}

int PreviewHostChanges::removeEntry(const std::string& path) {
  const std::string normal = normalPath(path);
  if (!exists(normal)) return failWith(ENOENT);
  if (isDirectoryItself(normal) && !listDirectory(normal).empty()) return failWith(ENOTEMPTY);
  forget(normal);
  return 0;
}

int PreviewHostChanges::renameEntry(const std::string& from, const std::string& to) {
  const std::string source = normalPath(from);
  const std::string target = normalPath(to);
  if (!exists(source)) return failWith(ENOENT);
  if (!isDirectory(parentOf(target))) return failWith(ENOENT);
  const std::string readFrom = readablePath(source);
  forget(source);
  noteFile(target, readFrom);
  return 0;
}

// The entry's path comes from /proc, so the removal is noted like the others.
int PreviewHostChanges::unlinkAt(int dirFd, const char* name, int flags) {
  const std::string dir = directoryOfFd(dirFd);
  if (dir.empty()) {
    struct stat info;
    return fstatat(dirFd, name, &info, AT_SYMLINK_NOFOLLOW);
  }
  const std::string path = normalPath(dir + "/" + name);
  if (!exists(path)) return failWith(ENOENT);
  const bool directory = isDirectoryItself(path);
  if ((flags & AT_REMOVEDIR) != 0) {
    if (!directory) return failWith(ENOTDIR);
    if (!listDirectory(path).empty()) return failWith(ENOTEMPTY);
  } else if (directory) {
    return failWith(EISDIR);
  }
  forget(path);
  return 0;
}

std::string PreviewHostChanges::freshFileTemplate(const std::string& besideTarget) {
  const std::size_t slash = besideTarget.rfind('/');
  return privateDir_ + "/" + (slash == std::string::npos ? besideTarget : besideTarget.substr(slash + 1));
}

// The written file stays in the private directory and is read in the
// target's place.
int PreviewHostChanges::placeFile(const std::string& fresh, const std::string& target) {
  const std::string normal = normalPath(target);
  if (isDirectoryItself(normal)) return failWith(EISDIR);
  if (!isDirectory(parentOf(normal))) return failWith(ENOENT);
  noteFile(normal, fresh);
  privateFiles_.push_back(fresh);
  return 0;
}

bool PreviewHostChanges::exists(const std::string& path) {
  const std::string normal = normalPath(path);
  if (noted(normal)) return true;
  return !gone(normal) && RealHostChanges::exists(normal);
}

bool PreviewHostChanges::isDirectory(const std::string& path) {
  const std::string normal = normalPath(path);
  if (directories_.count(normal) != 0) return true;
  if (files_.count(normal) != 0) return false;
  if (const auto link = links_.find(normal); link != links_.end()) {
    const std::string& target = link->second;
    return isDirectory(target.starts_with("/") ? target : parentOf(normal) + "/" + target);
  }
  return !gone(normal) && RealHostChanges::isDirectory(normal);
}

// The real entries that are still there, then those the run would add.
std::vector<std::string> PreviewHostChanges::listDirectory(const std::string& dir) {
  const std::string normal = normalPath(dir);
  std::vector<std::string> names;
  if (directories_.count(normal) == 0 && !gone(normal)) {
    for (std::string& name : RealHostChanges::listDirectory(normal)) {
      if (removed_.count(normal + "/" + name) == 0) names.push_back(std::move(name));
    }
  }
  std::set<std::string> added;
  const auto addIfHere = [&](const std::string& path) {
    if (parentOf(path) != normal) return;
    const std::string name = path.substr(normal == "/" ? 1 : normal.size() + 1);
    if (std::find(names.begin(), names.end(), name) == names.end()) added.insert(name);
  };
  for (const std::string& path : directories_) addIfHere(path);
  for (const auto& [path, readFrom] : files_) addIfHere(path);
  for (const auto& [path, target] : links_) addIfHere(path);
  names.insert(names.end(), added.begin(), added.end());
  return names;
}

std::string PreviewHostChanges::readablePath(const std::string& path) {
  const auto file = files_.find(normalPath(path));
  return file == files_.end() ? path : file->second;
}

}  // namespace

std::unique_ptr<HostChanges> makePreviewHost() { return std::make_unique<PreviewHostChanges>(); }
