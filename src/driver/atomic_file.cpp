// Whole-file replacement by write-beside-and-rename. Each step is checked,
// and a short write is reported as ENOSPC, since that is what it means.
#include "driver/atomic_file.h"

#include "driver/host_changes.h"
#include "driver/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

AtomicFile::AtomicFile(std::string target) : AtomicFile(std::move(target), host()) {}

AtomicFile::AtomicFile(std::string target, HostChanges& through) : through_(through), target_(std::move(target)) {
  const std::size_t slash = target_.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : target_.substr(0, slash == 0 ? 1 : slash);
  std::string templ = through_.freshFileTemplate(dir + (dir == "/" ? "" : "/") + kAtomicFilePrefix + "XXXXXX");
  const int fd = mkstemp(templ.data());
  if (fd < 0) {
    fail("create file beside target");
    return;
  }
  tempPath_ = templ;
  stream_ = fdopen(fd, "w");
  if (stream_ == nullptr) {
    fail("open stream");
    close(fd);
  }
}

AtomicFile::~AtomicFile() {
  if (stream_ != nullptr) std::fclose(stream_);
  if (!committed_ && !tempPath_.empty()) unlink(tempPath_.c_str());
}

bool AtomicFile::fail(const char* step) {
  if (!failed_) error_ = std::string(step) + ": " + std::strerror(errno);
  failed_ = true;
  return false;
}

bool AtomicFile::write(const std::string& text) {
  if (!ok()) return false;
  if (std::fwrite(text.data(), 1, text.size(), stream_) != text.size()) {
    if (errno == 0) errno = ENOSPC;
    return fail("write");
  }
  return true;
}

bool AtomicFile::commit(int mode, int uid, int gid) {
  if (!ok()) return false;
  errno = 0;
  if (std::fflush(stream_) != 0 || std::ferror(stream_)) return fail("write");
  if (fsync(fileno(stream_)) != 0) return fail("sync");
  const int closed = std::fclose(stream_);
  stream_ = nullptr;
  if (closed != 0) return fail("close");
  if (chmod(tempPath_.c_str(), static_cast<mode_t>(mode)) != 0) return fail("chmod");
  if (uid >= 0 && chown(tempPath_.c_str(), static_cast<uid_t>(uid), static_cast<gid_t>(gid)) != 0) return fail("chown");
  if (through_.placeFile(tempPath_, target_) != 0) return fail("rename over target");
  committed_ = true;
  return true;
}

int replaceFileWithCopy(const std::string& source, const std::string& target, std::string& error, int newMode) {
  // Only a file of its own passes its mode and owner on; a link, or a file
  // with further names, gives up its name and nothing else.
  struct stat old;
  const bool own = lstat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode) && old.st_nlink == 1;
  const int mode = own ? static_cast<int>(old.st_mode & 07777) : newMode;
  const int uid = own ? static_cast<int>(old.st_uid) : -1;
  const int gid = own ? static_cast<int>(old.st_gid) : -1;
  std::FILE* in = openRegularFile(source);
  if (in == nullptr) {
    error = "open " + source + ": " + std::strerror(errno);
    return -1;
  }
  AtomicFile out(target);
  std::vector<char> block(40960);
  std::size_t n;
  while (out.ok() && (n = std::fread(block.data(), 1, block.size(), in)) > 0) out.write(std::string(block.data(), n));
  const bool readFailed = std::ferror(in) != 0;
  std::fclose(in);
  if (readFailed) {
    error = "read " + source;
    return -1;
  }
  if (!out.commit(mode, uid, gid)) {
    error = out.error();
    return -1;
  }
  return 0;
}
