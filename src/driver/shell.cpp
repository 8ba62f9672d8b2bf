// Shell access for the installer: every external command runs through
// system() (or, when it may never end, through a shell that is given up
// after a bound), and every value that comes from a file, a directory entry or the
// command line goes in as one literal word.
#include "driver/shell.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "driver/host_changes.h"
#include "driver/status_line.h"

int runShell(const std::string& command) {
  std::fflush(nullptr);  // keep our own output ahead of the command's
  const CommandOutputRelay relay(command);
  return std::system(command.c_str());
}

int runHostCommand(const std::string& command) { return host().runCommand(command); }

int runHostCommandBounded(const std::string& command, unsigned seconds, bool& gaveUp) {
  gaveUp = false;
  if (!host().changesHost()) return host().runCommand(command);  // a preview only tells
  return runShellBounded(command, seconds, gaveUp);
}

// Runs body in a child process of its own for at most seconds: body's
// result is the child's exit status.
static int runBounded(const std::function<int()>& body, unsigned seconds, bool& gaveUp) {
  gaveUp = false;
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    setpgid(0, 0);  // a group of its own, so that all of it can be ended
    _exit(body());
  }
  setpgid(child, child);
  int status = 0;
  for (long waitedMs = 0; waitedMs < static_cast<long>(seconds) * 1000; waitedMs += 20) {
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) return status;
    if (done < 0 && errno != EINTR) return -1;
    usleep(20 * 1000);
  }
  kill(-child, SIGKILL);
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  gaveUp = true;
  return -1;
}

int runShellBounded(const std::string& command, unsigned seconds, bool& gaveUp) {
  return runBounded(
      [&command] {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        return 127;
      },
      seconds, gaveUp);
}

static bool isPlainShellChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' || c == '.' ||
         c == '_' || c == '-' || c == '+' || c == ',' || c == ':' || c == '@' || c == '%' || c == '=';
}

std::string shellWord(std::string_view value) {
  bool plain = !value.empty();
  for (char c : value) plain = plain && isPlainShellChar(c);
  // A leading '=' or '-' is fine for the shell; the commands get full paths.
  if (plain) return std::string(value);
  std::string quoted = "'";
  for (char c : value) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  quoted += "'";
  return quoted;
}
