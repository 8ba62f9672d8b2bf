// The status line on a terminal. standard output and standard error are
// replaced by streams whose writes pass one clearing point: under one lock
// the line is erased ("\r" and erase to the end of the line) before the bytes
// go out, and it is drawn again by a refresher thread, at most ten times a
// second, once the cursor stands at the start of a line; a new step is drawn
// at once. A host command's own output comes back through a pipe to the same
// clearing point. The refresher only ever holds that lock and never touches
// stdio, and a fork waits until it has let the lock go, so a child never
// inherits it held.
#include "driver/status_line.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "driver/text.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kTickMs = 100;                            // at most ten draws a second
constexpr auto kEstimateAfter = std::chrono::seconds(3);  // before that a time left says little
constexpr int kDrainMs = 200;                           // for a command's last bytes

struct Line {
  std::mutex lock;
  std::atomic<bool> running{false};
  pid_t owner = -1;        // the process that draws; a forked child does not
  bool preview = false;
  bool shown = false;      // the line is on the terminal now
  bool midLine = false;    // other output left the cursor inside a line
  int hidden = 0;          // StatusLineHidden objects alive
  int terminalFd = -1;     // standard error as it was at the start
  int outFd = -1;          // standard output then, when it is a terminal too
  int wakeRead = -1;
  int wakeWrite = -1;
  int relayFd = -1;        // the running command's output, or -1
  Clock::time_point runStart;
  Clock::time_point stepStart;
  std::string what;
  std::string detail;
  std::size_t n = 0;
  std::size_t total = 0;
  int printing = -1;       // the wait for printing jobs when 0 or more
  unsigned bound = 0;
  std::string drawn;
  std::thread refresher;
};

// Never destroyed: the streams write through it until the process is gone.
Line& line() {
  static Line* const theLine = new Line;
  return *theLine;
}

bool writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

void clearLocked(Line& l) {
  if (!l.shown) return;
  const int saved = errno;
  writeAll(l.terminalFd, "\r\033[K", 4);
  errno = saved;
  l.shown = false;
}

// Everything else that reaches the terminal comes here first.
void passLocked(Line& l, int fd, const char* data, std::size_t size, bool& ok) {
  clearLocked(l);
  ok = writeAll(fd, data, size);
  if (size > 0) l.midLine = data[size - 1] != '\n';
}

ssize_t passOn(void* cookie, const char* data, std::size_t size) {
  Line& l = line();
  std::lock_guard<std::mutex> guard(l.lock);
  bool ok = false;
  passLocked(l, *static_cast<const int*>(cookie), data, size, ok);
  return ok ? static_cast<ssize_t>(size) : 0;  // 0 is the stream's error
}

long wholeSeconds(Clock::duration d) { return static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(d).count()); }

std::string timeLeft(long seconds) {
  if (seconds < 60) return strFormat("about %ld s left", seconds < 1 ? 1 : seconds);
  return strFormat("about %ld min %02ld s left", seconds / 60, seconds % 60);
}

std::string composeLocked(const Line& l, Clock::time_point now) {
  const long sinceStart = wholeSeconds(now - l.runStart);
  std::string text = strFormat("[%ld:%02ld] ", sinceStart / 60, sinceStart % 60);
  if (l.preview) text += "Preview: ";
  const Clock::duration inStep = now - l.stepStart;
  if (l.printing >= 0) {
    return text + strFormat("Waiting for %d printing job%s before restarting CUPS: %ld of at most %u s",
                            l.printing, l.printing == 1 ? "" : "s", wholeSeconds(inStep), l.bound);
  }
  text += l.what;
  if (l.total > 0) text += strFormat(" %zu of %zu", l.n, l.total);
  if (!l.detail.empty()) text += ": " + l.detail;
  // The item n is in work: n - 1 are done.
  if (l.total > 0 && l.n > 1 && l.n <= l.total && inStep >= kEstimateAfter) {
    const double perItem = std::chrono::duration<double>(inStep).count() / static_cast<double>(l.n - 1);
    text += ", " + timeLeft(static_cast<long>(perItem * static_cast<double>(l.total - l.n + 1) + 0.5));
  }
  return text;
}

std::size_t columnsOf(int fd) {
  winsize size{};
  if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 1) return size.ws_col - 1u;  // never into the last column
  return 79;
}

void drawLocked(Line& l) {
  if (!l.running || l.hidden > 0 || l.midLine) return;
  const std::string text = fitToColumns(composeLocked(l, Clock::now()), columnsOf(l.terminalFd));
  if (l.shown && text == l.drawn) return;
  const int saved = errno;
  const std::string out = "\r" + text + "\033[K";
  writeAll(l.terminalFd, out.data(), out.size());
  errno = saved;
  l.shown = true;
  l.drawn = text;
}

// Passes on what the command wrote so far; false at its end or on an error.
bool relayLocked(Line& l, int fd) {
  char buffer[4096];
  while (true) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return got < 0 && errno == EAGAIN;
    bool ok = false;
    passLocked(l, l.terminalFd, buffer, static_cast<std::size_t>(got), ok);
  }
}

void refresh() {
  Line& l = line();
  while (true) {
    pollfd fds[2] = {{l.wakeRead, POLLIN, 0}, {-1, POLLIN, 0}};
    {
      std::lock_guard<std::mutex> guard(l.lock);
      fds[1].fd = l.relayFd;
    }
    const int ready = poll(fds, 2, kTickMs);
    std::lock_guard<std::mutex> guard(l.lock);
    if (!l.running) return;
    if (ready > 0 && fds[1].fd >= 0 && fds[1].fd == l.relayFd && (fds[1].revents & POLLIN) != 0) {
      relayLocked(l, l.relayFd);
    }
    drawLocked(l);
  }
}

std::FILE* streamTo(int& fd, int bufferMode) {
  const cookie_io_functions_t io = {nullptr, passOn, nullptr, nullptr};
  std::FILE* stream = fopencookie(&fd, "w", io);
  if (stream != nullptr) setvbuf(stream, nullptr, bufferMode, BUFSIZ);
  return stream;
}

bool terminalWanted() {
  const char* term = std::getenv("TERM");
  return isatty(STDERR_FILENO) == 1 && term != nullptr && *term != '\0' && std::strcmp(term, "dumb") != 0;
}

void lockForFork() { line().lock.lock(); }
void unlockAfterFork() { line().lock.unlock(); }

}  // namespace

std::string fitToColumns(std::string_view text, std::size_t columns) {
  std::string fitted;
  std::size_t used = 0;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    std::size_t length = c < 0x80 ? 1 : c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc0 ? 2 : 1;
    if (i + length > text.size()) length = text.size() - i;
    if (used + 1 > columns) break;
    const bool c1Control = c == 0xc2 && length == 2 && static_cast<unsigned char>(text[i + 1]) < 0xa0;
    if (c < 0x20 || c == 0x7f || c1Control) {
      fitted += '?';  // nothing of a name reaches the terminal as a control
    } else {
      fitted.append(text.substr(i, length));
    }
    ++used;
    i += length;
  }
  return fitted;
}

void startStatusLine(bool preview) {
  Line& l = line();
  if (l.running || !terminalWanted()) return;
  int wake[2];
  l.terminalFd = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  if (l.terminalFd < 0 || pipe2(wake, O_CLOEXEC) != 0) return;
  if (isatty(STDOUT_FILENO) == 1) l.outFd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  l.wakeRead = wake[0];
  l.wakeWrite = wake[1];
  std::fflush(nullptr);
  if (std::FILE* err = streamTo(l.terminalFd, _IONBF)) stderr = err;
  if (l.outFd >= 0) {
    if (std::FILE* out = streamTo(l.outFd, _IOLBF)) stdout = out;
  }
  pthread_atfork(lockForFork, unlockAfterFork, unlockAfterFork);
  l.preview = preview;
  l.runStart = l.stepStart = Clock::now();
  l.what = "Looking at the host";
  l.owner = getpid();
  l.running = true;
  {
    std::lock_guard<std::mutex> guard(l.lock);
    drawLocked(l);
  }
  // Signals are the main thread's to take.
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  l.refresher = std::thread(refresh);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  std::atexit(endStatusLine);
}

void endStatusLine() {
  Line& l = line();
  if (!l.running || l.owner != getpid()) return;
  std::thread refresher;
  {
    std::lock_guard<std::mutex> guard(l.lock);
    l.running = false;
    clearLocked(l);
    refresher = std::move(l.refresher);
  }
  writeAll(l.wakeWrite, "x", 1);
  if (refresher.joinable()) refresher.join();
}

void showStep(std::string_view what, std::size_t n, std::size_t total, std::string_view detail) {
  Line& l = line();
  if (!l.running) return;
  std::lock_guard<std::mutex> guard(l.lock);
  const bool newStep = l.what != what || l.printing >= 0;
  if (newStep) l.stepStart = Clock::now();
  l.what = what;
  l.n = n;
  l.total = total;
  l.detail = detail;
  l.printing = -1;
  // A step shows at once, however soon the next follows: the tick alone
  // would skip one that ends within it.
  if (newStep) drawLocked(l);
}

void showPrintingWait(int printing, unsigned boundSeconds) {
  Line& l = line();
  if (!l.running) return;
  std::lock_guard<std::mutex> guard(l.lock);
  const bool newStep = l.printing < 0;
  if (newStep) l.stepStart = Clock::now();
  l.printing = printing < 0 ? 0 : printing;
  l.bound = boundSeconds;
  if (newStep) drawLocked(l);
}

void statusAfterAnswer() {
  Line& l = line();
  if (!l.running) return;
  termios mode{};
  const bool echoed = tcgetattr(STDIN_FILENO, &mode) == 0 && (mode.c_lflag & ECHO) != 0;
  std::lock_guard<std::mutex> guard(l.lock);
  if (echoed) l.midLine = false;
}

StatusLineHidden::StatusLineHidden() {
  Line& l = line();
  if (!l.running) return;
  std::lock_guard<std::mutex> guard(l.lock);
  ++l.hidden;
  clearLocked(l);
}

StatusLineHidden::~StatusLineHidden() {
  Line& l = line();
  std::lock_guard<std::mutex> guard(l.lock);
  if (l.hidden > 0) --l.hidden;
}

CommandOutputRelay::CommandOutputRelay(const std::string&) {
  Line& l = line();
  if (!l.running || l.owner != getpid()) return;
  std::lock_guard<std::mutex> guard(l.lock);
  int ends[2];
  if (l.hidden > 0 || pipe2(ends, O_CLOEXEC) != 0) {
    clearLocked(l);  // the command writes straight to the terminal
    return;
  }
  fcntl(ends[0], F_SETFL, O_NONBLOCK);
  dup2(ends[1], STDERR_FILENO);
  if (l.outFd >= 0) dup2(ends[1], STDOUT_FILENO);
  close(ends[1]);
  readEnd_ = l.relayFd = ends[0];
}

CommandOutputRelay::~CommandOutputRelay() {
  if (readEnd_ < 0) return;
  const int saved = errno;
  Line& l = line();
  dup2(l.terminalFd, STDERR_FILENO);
  if (l.outFd >= 0) dup2(l.outFd, STDOUT_FILENO);
  // The command has ended; what it wrote last is read until its end of the
  // pipe closes, or a moment at most when something it started keeps it.
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(kDrainMs);
  while (true) {
    const long leftMs = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    pollfd ready = {readEnd_, POLLIN, 0};
    if (leftMs <= 0 || poll(&ready, 1, static_cast<int>(leftMs)) <= 0) break;
    std::lock_guard<std::mutex> guard(l.lock);
    if (!relayLocked(l, readEnd_)) break;
  }
  std::lock_guard<std::mutex> guard(l.lock);
  l.relayFd = -1;
  close(readEnd_);
  errno = saved;
}
