// What a sandbox host itself has changed. The view is an overlay whose lower
// layer is the live / of this machine, so a listing of the merged view also
// shows whatever other work does to the machine meanwhile. Every write,
// copy-up and removal made inside the view lands in the overlay's upper
// layer instead, and the view's /tmp starts empty: reading those two alone
// counts only the sandbox's own changes.
#include "sandbox/sandbox_host.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// FNV-1a: enough to tell two contents apart in a listing.
std::string checksum(const std::string& bytes) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

bool isOpaque(const std::string& dir) {
  char value[2] = {};
  return ::lgetxattr(dir.c_str(), "trusted.overlay.opaque", value, sizeof value) > 0 && value[0] == 'y';
}

std::string owner(const struct stat& st) { return std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid); }

std::string octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%o", static_cast<unsigned>(mode & 07777));
  return text;
}

// An entry of the upper layer that only a copy-up put there: same type,
// mode, owner, modification time and bytes as the real machine's entry.
bool copiedUpUnchanged(const std::string& upper, const struct stat& up, const std::string& lower) {
  struct stat low {};
  if (::lstat(lower.c_str(), &low) != 0) return false;
  if ((up.st_mode & S_IFMT) != (low.st_mode & S_IFMT) || up.st_mode != low.st_mode || up.st_uid != low.st_uid ||
      up.st_gid != low.st_gid)
    return false;
  if (S_ISDIR(up.st_mode)) return !isOpaque(upper);
  if (S_ISLNK(up.st_mode)) return fs::read_symlink(upper) == fs::read_symlink(lower);
  if (!S_ISREG(up.st_mode)) return false;
  return up.st_size == low.st_size && up.st_mtim.tv_sec == low.st_mtim.tv_sec &&
         up.st_mtim.tv_nsec == low.st_mtim.tv_nsec && fileBytes(upper) == fileBytes(lower);
}

// One line for the entry at path (as the view names it), whose bytes are at real.
std::string entryLine(const std::string& path, const std::string& real, const struct stat& st) {
  if (S_ISCHR(st.st_mode) && st.st_rdev == makedev(0, 0)) return "gone " + path;
  const std::string common = path + " " + octal(st.st_mode) + " " + owner(st);
  if (S_ISDIR(st.st_mode)) return "d " + common + (isOpaque(real) ? " opaque" : "");
  if (S_ISLNK(st.st_mode)) return "l " + common + " -> " + fs::read_symlink(real).string();
  if (!S_ISREG(st.st_mode)) return "o " + common;
  // The inode and change time move with every write, chmod, chown or rename.
  return "f " + common + " " + std::to_string(st.st_size) + " " + std::to_string(st.st_ino) + " " +
         std::to_string(st.st_ctim.tv_sec) + "." + std::to_string(st.st_ctim.tv_nsec) + " " +
         checksum(fileBytes(real));
}

// Lists the tree at real, which the view shows at viewPath; lowerRoot, when
// given, is where the real machine holds the same paths.
using Entry = std::pair<std::string, std::string>;  // the path in the view, its line

void listTree(const std::string& real, const std::string& viewPath, const std::string* lowerRoot,
              std::vector<Entry>& entries) {
  std::error_code error;
  for (fs::recursive_directory_iterator it(real, fs::directory_options::none, error), end; it != end;
       it.increment(error)) {
    if (error) throw std::runtime_error("list " + real + ": " + error.message());
    const std::string entry = it->path().string();
    struct stat st {};
    if (::lstat(entry.c_str(), &st) != 0) throw std::runtime_error("lstat " + entry + ": " + std::strerror(errno));
    const std::string path = viewPath + entry.substr(real.size());
    if (lowerRoot != nullptr && copiedUpUnchanged(entry, st, *lowerRoot + path)) continue;
    entries.emplace_back(path, entryLine(path, entry, st));
  }
}

}  // namespace

std::string SandboxHost::changedEntries(std::string_view below) const {
  // The holder's mount namespace holds the layers' tmpfs and the view's own
  // mounts; its root is the real machine's.
  const std::string ns = "/proc/" + std::to_string(holderPid_) + "/root" + base_;
  std::vector<Entry> entries;
  const std::string lower;
  listTree(ns + "/layers/upper", "", &lower, entries);
  struct stat root {}, tmp {};
  if (::stat((ns + "/root").c_str(), &root) == 0 && ::stat((ns + "/root/tmp").c_str(), &tmp) == 0 &&
      root.st_dev != tmp.st_dev)
    listTree(ns + "/root/tmp", "/tmp", nullptr, entries);
  std::sort(entries.begin(), entries.end());
  std::string top(below);
  while (top.size() > 1 && top.back() == '/') top.pop_back();
  std::string text;
  for (const auto& [path, line] : entries)
    if (top == "/" || path == top || path.starts_with(top + "/")) text += line + "\n";
  return text;
}
