// Temporary files of the installer. Command output is caught in files under
// /tmp, a directory everyone may write to, so every such file is created here
// exclusively under a name nobody can guess before a command writes into it.
#include "discovery/temp_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "driver/settings.h"

std::optional<std::string> makeTempFile(std::string_view dir, std::string_view prefix) {
  if (!dir.empty() && dir.back() == '/') dir.remove_suffix(1);
  std::string templ = std::string(dir) + "/" + std::string(prefix) + "XXXXXX";
  // The name stood in a 256-byte buffer.
  if (templ.size() > kPathLimit) {
    errno = ENAMETOOLONG;
    return std::nullopt;
  }
  std::vector<char> buffer(templ.begin(), templ.end());
  buffer.push_back('\0');
  const int fd = mkstemp(buffer.data());
  if (fd < 0) return std::nullopt;
  close(fd);  // the file stays; on Linux close is never retried
  return std::string(buffer.data());
}

std::string myTmpName(std::string dir, const char* name) {
  if (name == nullptr) name = "KOR";
  std::optional<std::string> path = makeTempFile(dir, "KOR");
  if (!path) {
    if (!dir.empty() && dir.back() == '/') dir.pop_back();
    std::fprintf(stderr, "myTmpName(%s,%s) Failed!\n", dir.c_str(), name);
    std::exit(-1);
  }
  return *path;
}
