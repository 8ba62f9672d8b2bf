// The run lock: an flock on a small file that names the holder's process id,
// so that a run that has to wait can tell for whom. The descriptor stays
// open (close-on-exec, so no command the run starts inherits it) until the
// process ends.
#include "driver/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "driver/text.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kPollInterval = std::chrono::milliseconds(200);

std::string waitLine;

int openLockFile(const char* path) {
  int fd;
  do fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0644);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    errno = EINVAL;  // a pipe or device there is not a lock file
    return -1;
  }
  return fd;
}

bool tryLock(int fd) {
  int result;
  do result = flock(fd, LOCK_EX | LOCK_NB);
  while (result != 0 && errno == EINTR);
  return result == 0;
}

// The process id the holder wrote, 0 while it has written none.
long holderOf(int fd) {
  char text[32] = {};
  ssize_t length;
  do length = pread(fd, text, sizeof text - 1, 0);
  while (length < 0 && errno == EINTR);
  return length > 0 ? std::strtol(text, nullptr, 10) : 0;
}

void nameSelfHolder(int fd) {
  const std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd, 0) != 0 || pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    std::fprintf(stderr, "Cannot write this run's process id into the run lock: %s.\n", std::strerror(errno));
  }
}

// The bound of the wait: VELALOCKWAIT when it is a number of seconds from 0
// to 3600, else the default.
unsigned waitBound() { return secondsFromEnvironment("VELALOCKWAIT", 3600, kRunLockWaitSeconds); }

// One message on both standard output (the console, a roll-out's record)
// and standard error.
void tellBoth(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
  std::fputs(text.c_str(), stderr);
}

std::string holderText(long pid) {
  return pid > 0 ? strFormat("process %ld", pid) : std::string("a process that has not named itself yet");
}

// The holder names itself right after it has taken the lock; a run that
// comes in between gives it a moment.
long holderNamed(int fd) {
  long pid = holderOf(fd);
  for (int i = 0; i < 10 && pid <= 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pid = holderOf(fd);
  }
  return pid;
}

}  // namespace

void takeRunLock() {
  const char* path = kRunLockPath;
  int fd = openLockFile(path);
  if (fd < 0 && errno == ENOENT) {
    path = kRunLockFallbackPath;
    fd = openLockFile(path);
  }
  if (fd < 0) {
    std::fprintf(stderr, "Cannot open the run lock %s: %s; this run goes on without it.\n", path,
                 std::strerror(errno));
    return;
  }
  if (tryLock(fd)) {
    nameSelfHolder(fd);
    return;
  }
  const unsigned bound = waitBound();
  const Clock::time_point start = Clock::now();
  const Clock::time_point end = start + std::chrono::seconds(bound);
  long holder = holderNamed(fd);
  tellBoth(strFormat("Another setup run (%s) holds the run lock %s: waiting up to %u seconds for it to end.\n",
                     holderText(holder).c_str(), path, bound));
  while (!tryLock(fd)) {
    if (const long now = holderOf(fd); now > 0) holder = now;
    if (Clock::now() >= end) {
      tellBoth(strFormat("Another setup run (%s) still holds the run lock %s after %u seconds: this run ends "
                         "without changing anything.\n",
                         holderText(holder).c_str(), path, bound));
      std::exit(0);
    }
    std::this_thread::sleep_for(std::min<Clock::duration>(kPollInterval, end - Clock::now()));
  }
  nameSelfHolder(fd);
  const double waited = std::chrono::duration<double>(Clock::now() - start).count();
  waitLine = strFormat("Waited %.1f seconds for the run lock %s, held by %s.", waited, path,
                       holderText(holder).c_str());
}

std::string runLockWaitLine() { return waitLine; }
