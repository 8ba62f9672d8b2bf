// The update log. Every subsystem reports through logLine(); the file is
// flushed after each line so that it holds everything written even when the
// run ends abruptly. Until the file is open, lines go to standard error.
// The log is never opened through a link: a link at the log's name is
// replaced by a plain file of its own.
#include "driver/update_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "driver/host_changes.h"
#include "driver/settings.h"
#include "driver/shell.h"
#include "driver/text.h"

namespace {

std::FILE* logFile = nullptr;

std::string ctimeNow() {
  const std::time_t now = std::time(nullptr);
  const char* text = std::ctime(&now);
  return text ? text : "\n";
}

// Opens the log at path for writing, emptied. A file of its own is emptied in
// place; a symbolic or hard link there is replaced by a fresh file, so the
// run never writes through a planted link. A device or a pipe at that name
// is neither opened (it could stall the run) nor removed: the lines then go
// to standard error.
std::FILE* openFreshLog(const std::string& path) {
  struct stat info {};
  const bool exists = lstat(path.c_str(), &info) == 0;
  if (exists && !S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode)) return nullptr;
  if (exists && S_ISREG(info.st_mode)) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 1 && ftruncate(fd, 0) == 0) {
      if (std::FILE* file = fdopen(fd, "w")) return file;
    }
    if (fd >= 0) ::close(fd);
  }
  if (exists) unlink(path.c_str());
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  std::FILE* file = fd < 0 ? nullptr : fdopen(fd, "w");
  if (file == nullptr && fd >= 0) ::close(fd);
  return file;
}

}  // namespace

int UpdateLog::open(int userId) {
  SetupSettings& s = settings();
  if (s.logPath.empty()) s.logPath = "/var/log/Vela4.0_UpdateLog";
  if (userId != 0) assignPath(s.logPath, s.logPath + strFormat("_%d", userId));

  logFile = openFreshLog(s.logPath);
  if (logFile == nullptr) return 0;
  if (!host().changesHost()) {
    // A preview labels nothing, not even its own log.
    std::fputs("Preview: nothing on this host is changed; \"Would run:\" lines show the commands a run would run.\n",
               logFile);
    std::fflush(logFile);
    return 1;
  }
  if (s.chcon.empty()) return 1;

  const std::string command = strFormat("%s -u system_u %s 2>/dev/null", s.chcon.c_str(), shellWord(s.logPath).c_str());
  const int status = runHostCommand(command);
  std::fputs("Preparing Log File:\n", logFile);
  std::fprintf(logFile, "Command: \"%s\" returned with: %d.\n", command.c_str(), status);
  std::fputs("=======================================\n", logFile);
  std::fflush(logFile);
  return 1;
}

int UpdateLog::write(const std::string& text) {
  std::FILE* target = logFile ? logFile : stderr;
  std::fwrite(text.data(), 1, text.size(), target);
  if (text.empty() || text.back() != '\n') std::fputc('\n', target);
  std::fflush(target);
  return 1;
}

void UpdateLog::close() {
  if (logFile == nullptr) return;
  std::fprintf(logFile, "Finishing Vela 4.0-0 installation : %s", ctimeNow().c_str());
  std::fclose(logFile);
  logFile = nullptr;
}

void logLine(const std::string& text) {
  if (!text.empty()) UpdateLog::write(text);
}

void debugLine(const std::string& text) {
  if (settings().debugLevel > 0) std::fputs(text.c_str(), stderr);
}
