// Reading only regular files: the name is looked at first, so a device or a
// pipe is never opened, and the opened file is looked at again, so a name
// swapped in between is refused all the same.
#include "driver/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace {

bool isRegular(int statResult, const struct stat& info) {
  if (statResult != 0) return false;
  if (!S_ISREG(info.st_mode)) errno = EINVAL;
  return S_ISREG(info.st_mode);
}

}  // namespace

int openRegularFd(const std::string& path) {
  struct stat info {};
  if (!isRegular(stat(path.c_str(), &info), info)) return -1;
  int fd;
  do {
    fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  if (!isRegular(fstat(fd, &info), info)) {
    const int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

std::FILE* openRegularFile(const std::string& path) {
  const int fd = openRegularFd(path);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "r");
  if (file == nullptr) close(fd);
  return file;
}

// Compares the two files block by block.
bool sameContent(const std::string& first, const std::string& second) {
  std::FILE* a = openRegularFile(first);
  if (a == nullptr) return false;
  std::FILE* b = openRegularFile(second);
  if (b == nullptr) {
    std::fclose(a);
    return false;
  }
  std::vector<char> blockA(40960), blockB(40960);
  bool same = true;
  while (same) {
    const std::size_t na = std::fread(blockA.data(), 1, blockA.size(), a);
    const std::size_t nb = std::fread(blockB.data(), 1, blockB.size(), b);
    same = na == nb && std::equal(blockA.begin(), blockA.begin() + static_cast<long>(na), blockB.begin());
    if (na == 0 || na < blockA.size()) break;
  }
  same = same && !std::ferror(a) && !std::ferror(b);
  std::fclose(a);
  std::fclose(b);
  return same;
}
