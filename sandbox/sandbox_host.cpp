// The sandbox host behind the behaviour tests. A holder process unshares the
// namespaces and forks the view's pid 1, which mounts the overlay, /proc,
// /dev and an empty /tmp, brings loopback up, chroots and then only reaps
// children. Commands and file operations enter it with setns and chroot.
// Killing pid 1 ends every process of the view, and with them its mounts.
#include "sandbox/sandbox_host.h"

#include <fcntl.h>
#include <grp.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

std::string errnoText(const std::string& step) { return step + ": " + std::strerror(errno); }

// Writes all of text to fd, retrying on EINTR.
bool writeAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::string readAll(int fd) {
  std::string text;
  char buffer[8192];
  ::lseek(fd, 0, SEEK_SET);
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

int waitFor(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

[[noreturn]] void failChild(int reportFd, const std::string& why) {
  writeAll(reportFd, "E" + why + "\n");
  ::_exit(1);
}

bool bringLoopbackUp() {
  const int sock = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (sock < 0) return false;
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool ok = ::ioctl(sock, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags |= IFF_UP | IFF_RUNNING;
  ok = ok && ::ioctl(sock, SIOCSIFFLAGS, &request) == 0;
  ::close(sock);
  return ok;
}

// A /dev of the view's own: a tmpfs with only the harmless character devices
// bound in, so nothing run inside can remove or replace a device of the
// real machine.
bool makePrivateDev(const std::string& dev) {
  if (::mount("sandbox-dev", dev.c_str(), "tmpfs", MS_NOSUID, "mode=0755") != 0) return false;
  for (const char* name : {"null", "zero", "full", "random", "urandom", "tty"}) {
    const std::string node = dev + "/" + name;
    const int fd = ::open(node.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    ::close(fd);
    if (::mount((std::string("/dev/") + name).c_str(), node.c_str(), nullptr, MS_BIND, nullptr) != 0) return false;
  }
  ::symlink("/proc/self/fd", (dev + "/fd").c_str());
  ::symlink("/proc/self/fd/0", (dev + "/stdin").c_str());
  ::symlink("/proc/self/fd/1", (dev + "/stdout").c_str());
  ::symlink("/proc/self/fd/2", (dev + "/stderr").c_str());
  ::mkdir((dev + "/shm").c_str(), 01777);
  ::mkdir((dev + "/pts").c_str(), 0755);
  // Terminals of the view's own, for runs on a terminal; none of the real machine's.
  if (::mount("sandbox-pts", (dev + "/pts").c_str(), "devpts", MS_NOSUID | MS_NOEXEC, "newinstance,ptmxmode=0666,mode=0620") == 0) {
    ::symlink("pts/ptmx", (dev + "/ptmx").c_str());
  }
  return ::mount("sandbox-shm", (dev + "/shm").c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") == 0;
}

// pid 1 of the view: builds it, reports ready, then reaps orphans forever.
[[noreturn]] void runViewInit(const std::string& base, const std::string& lowerRoot, int reportFd) {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  const std::string layers = base + "/layers";
  const std::string root = base + "/root";
  if (::mount("sandbox-layers", layers.c_str(), "tmpfs", 0, "mode=0700") != 0) failChild(reportFd, errnoText("mount tmpfs for the overlay layers"));
  ::mkdir((layers + "/upper").c_str(), 0755);
  ::mkdir((layers + "/work").c_str(), 0755);
  const std::string options = "lowerdir=" + lowerRoot + ",upperdir=" + layers + "/upper,workdir=" + layers + "/work";
  if (::mount("sandbox-root", root.c_str(), "overlay", 0, options.c_str()) != 0) failChild(reportFd, errnoText("mount overlay of " + lowerRoot));
  if (::mount("proc", (root + "/proc").c_str(), "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0) failChild(reportFd, errnoText("mount /proc"));
  if (!makePrivateDev(root + "/dev")) failChild(reportFd, errnoText("make a private /dev"));
  if (::mount("/sys", (root + "/sys").c_str(), nullptr, MS_BIND | MS_REC | MS_RDONLY, nullptr) != 0) failChild(reportFd, errnoText("bind /sys"));
  if (::mount("sandbox-tmp", (root + "/tmp").c_str(), "tmpfs", 0, "mode=1777") != 0) failChild(reportFd, errnoText("mount /tmp"));
  if (::sethostname("sandbox", 7) != 0) failChild(reportFd, errnoText("sethostname"));
  if (!bringLoopbackUp()) failChild(reportFd, errnoText("bring loopback up"));
  if (::chroot(root.c_str()) != 0 || ::chdir("/") != 0) failChild(reportFd, errnoText("chroot into the view"));
  writeAll(reportFd, "R\n");
  ::close(reportFd);
  for (;;) {
    if (::waitpid(-1, nullptr, 0) < 0 && errno == ECHILD) ::sleep(1);
  }
}

std::vector<char*> cStrings(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& t : texts) pointers.push_back(t.data());
  pointers.push_back(nullptr);
  return pointers;
}

std::string stubRecordPath(std::string_view path) {
  std::string name(path);
  std::replace(name.begin(), name.end(), '/', '_');
  return "/var/lib/sandbox-stubs/" + name + ".calls";
}

}  // namespace

bool SandboxHost::onCi() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string_view(ci) == "true";
}

const std::string& SandboxHost::unavailableReason() {
  static const std::string reason = [] {
    if (::geteuid() != 0) return std::string("the tests do not run as root, so no namespaces and mounts can be made");
    try {
      SandboxHost probe;
      if (probe.run({"/bin/true"}).status != 0) return std::string("a command cannot run inside the view");
    } catch (const std::exception& e) {
      return std::string(e.what());
    }
    return std::string();
  }();
  return reason;
}

SandboxHost::SandboxHost(std::string lowerRoot) {
  // The quick tier (ctest -L quick) boots no host: a test that does is not one of it.
  if (std::getenv("VELA_QUICK") != nullptr) {
    ADD_FAILURE() << "a test of the quick tier boots a sandbox host";
    throw std::runtime_error("no sandbox host in the quick tier");
  }
  char templ[] = "/tmp/vela-sandbox-XXXXXX";
  if (::mkdtemp(templ) == nullptr) throw std::runtime_error(errnoText("mkdtemp"));
  base_ = templ;
  ::mkdir((base_ + "/layers").c_str(), 0700);
  ::mkdir((base_ + "/root").c_str(), 0755);

  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error(errnoText("pipe"));
  std::fflush(nullptr);
  holderPid_ = ::fork();
  if (holderPid_ < 0) throw std::runtime_error(errnoText("fork"));
  if (holderPid_ == 0) {
    ::close(pipeFds[0]);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::unshare(CLONE_NEWNS | CLONE_NEWPID | CLONE_NEWNET | CLONE_NEWUTS | CLONE_NEWIPC) != 0) failChild(pipeFds[1], errnoText("unshare namespaces"));
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) failChild(pipeFds[1], errnoText("make mounts private"));
    const pid_t init = ::fork();
    if (init < 0) failChild(pipeFds[1], errnoText("fork pid 1"));
    if (init == 0) runViewInit(base_, lowerRoot, pipeFds[1]);
    const std::string pidText = "P" + std::to_string(init) + "\n";
    writeAll(pipeFds[1], pidText);
    ::close(pipeFds[1]);
    ::_exit(waitFor(init) == 0 ? 0 : 1);
  }
  ::close(pipeFds[1]);
  // The holder reports pid 1 as "P<pid>", pid 1 reports "R" when ready or
  // "E<why>", a line each and in either order: read until the pipe closes.
  std::string report;
  char buffer[512];
  for (;;) {
    const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    report.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pipeFds[0]);
  bool ready = false;
  std::string why = "the view did not start";
  std::istringstream lines(report);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("P")) initPid_ = std::atoi(line.c_str() + 1);
    if (line == "R") ready = true;
    if (line.starts_with("E")) why = line.substr(1);
  }
  if (!ready || initPid_ <= 0) {
    if (initPid_ > 0) ::kill(initPid_, SIGKILL);
    ::kill(holderPid_, SIGKILL);
    waitFor(holderPid_);
    fs::remove_all(base_);
    throw std::runtime_error(why);
  }
}

SandboxHost::~SandboxHost() {
  if (initPid_ > 0) ::kill(initPid_, SIGKILL);
  if (holderPid_ > 0) waitFor(holderPid_);
  // The mounts lived only in the view's namespace; what is left are the
  // empty mount points.
  std::error_code ignored;
  fs::remove_all(base_, ignored);
}

int SandboxHost::inside(const std::function<int()>& fn) const {
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    const std::string nsPath = "/proc/" + std::to_string(initPid_) + "/ns/mnt";
    const int nsFd = ::open(nsPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (nsFd < 0 || ::setns(nsFd, CLONE_NEWNS) != 0) ::_exit(255);
    if (::chroot((base_ + "/root").c_str()) != 0 || ::chdir("/") != 0) ::_exit(255);
    ::_exit(fn() & 0xff);
  }
  const int status = waitFor(child);
  return status == 255 ? -1 : status;
}

std::string SandboxHost::namespacePath(std::string_view kind) const {
  return "/proc/" + std::to_string(initPid_) + "/ns/" + std::string(kind);
}

RunResult SandboxHost::run(const std::vector<std::string>& argv, const RunOptions& options) {
  RunResult result;
  const int inFd = ::memfd_create("sandbox-stdin", 0);
  const int outFd = ::memfd_create("sandbox-stdout", 0);
  const int errFd = ::memfd_create("sandbox-stderr", 0);
  if (inFd < 0 || outFd < 0 || errFd < 0) throw std::runtime_error(errnoText("memfd_create"));
  writeAll(inFd, options.stdinText);
  ::lseek(inFd, 0, SEEK_SET);

  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child < 0) throw std::runtime_error(errnoText("fork"));
  if (child == 0) {
    for (const char* ns : {"ipc", "uts", "net", "pid", "mnt"}) {
      const std::string nsPath = "/proc/" + std::to_string(initPid_) + "/ns/" + ns;
      const int nsFd = ::open(nsPath.c_str(), O_RDONLY | O_CLOEXEC);
      if (nsFd < 0 || ::setns(nsFd, 0) != 0) {
        writeAll(errFd, errnoText("enter namespace " + std::string(ns)));
        ::_exit(125);
      }
    }
    if (::chroot((base_ + "/root").c_str()) != 0 || ::chdir(options.cwd.c_str()) != 0) {
      writeAll(errFd, errnoText("enter the view"));
      ::_exit(125);
    }
    const pid_t command = ::fork();  // only a child joins the view's pid namespace
    if (command < 0) ::_exit(125);
    if (command == 0) {
      ::dup2(inFd, 0);
      ::dup2(outFd, 1);
      ::dup2(errFd, 2);
      if (::setgroups(0, nullptr) != 0 || ::setgid(options.gid) != 0 || ::setuid(options.uid) != 0) {
        writeAll(2, errnoText("switch user"));
        ::_exit(125);
      }
      ::alarm(options.timeoutSeconds);
      std::vector<std::string> env = {"PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
                                      "HOME=/root", "LANG=C", "TERM=dumb"};
      env.insert(env.end(), options.env.begin(), options.env.end());
      std::vector<std::string> args = argv;
      std::vector<char*> argPointers = cStrings(args);
      std::vector<char*> envPointers = cStrings(env);
      ::execve(argPointers[0], argPointers.data(), envPointers.data());
      writeAll(2, errnoText("execve " + argv[0]));
      ::_exit(127);
    }
    ::_exit(waitFor(command));
  }
  result.status = waitFor(child);
  result.out = readAll(outFd);
  result.err = readAll(errFd);
  ::close(inFd);
  ::close(outFd);
  ::close(errFd);
  // In a sanitizer build every run of the installer is checked as well.
  for (const char* report : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:"}) {
    if (result.err.find(report) != std::string::npos) ADD_FAILURE() << argv[0] << " reported:\n" << result.err;
  }
  return result;
}

RunResult SandboxHost::shell(const std::string& script, const RunOptions& options) {
  return run({"/bin/sh", "-c", script}, options);
}

void SandboxHost::startBackground(const std::vector<std::string>& argv) {
  std::string command;
  for (const std::string& word : argv) {
    std::string quoted = "'";
    for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    command += quoted + "' ";
  }
  // setsid and a shell that does not wait: the command is left to pid 1.
  const RunResult started = shell("setsid " + command + "</dev/null >/dev/null 2>&1 &");
  if (started.status != 0) throw std::runtime_error("cannot start in the background: " + started.err);
}

// Runs fn inside the view with a memfd to report through; returns what fn
// wrote there, or nothing when fn failed.
std::optional<std::string> SandboxHost::insideReporting(const std::function<bool(int fd)>& fn) const {
  const int fd = ::memfd_create("sandbox-report", 0);
  const int status = inside([&] { return fn(fd) ? 0 : 1; });
  std::optional<std::string> text;
  if (status == 0) text = readAll(fd);
  ::close(fd);
  return text;
}

// Runs fn inside the view after making path's parent directories; throws
// when fn fails.
void SandboxHost::makeInside(const std::string& what, const fs::path& path, const std::function<bool()>& fn) {
  const int status = inside([&] {
    std::error_code ignored;
    fs::create_directories(path.parent_path(), ignored);
    return fn() ? 0 : 1;
  });
  if (status != 0) throw std::runtime_error("cannot " + what + " " + path.string() + " in the sandbox");
}

void SandboxHost::writeFile(std::string_view path, std::string_view content, mode_t fileMode) {
  const fs::path target(path);
  makeInside("write", target, [&] {
    ::unlink(target.c_str());
    const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool ok = writeAll(fd, content) && ::fchmod(fd, fileMode) == 0;
    return ::close(fd) == 0 && ok;
  });
}

void SandboxHost::makeDirs(std::string_view path, mode_t dirMode) {
  const fs::path target(path);
  makeInside("make", target / ".", [&] {
    std::error_code error;
    fs::create_directories(target, error);
    return !error && ::chmod(target.c_str(), dirMode) == 0;
  });
}

void SandboxHost::makeSymlink(std::string_view target, std::string_view linkPath) {
  const std::string to(target);
  const fs::path link(linkPath);
  makeInside("link", link, [&] {
    ::unlink(link.c_str());
    return ::symlink(to.c_str(), link.c_str()) == 0;
  });
}

void SandboxHost::makeFifo(std::string_view path) {
  const fs::path target(path);
  makeInside("make fifo", target, [&] { return ::mkfifo(target.c_str(), 0644) == 0; });
}

void SandboxHost::remove(std::string_view path) {
  const std::string target(path);
  inside([&] {
    std::error_code ignored;
    fs::remove_all(target, ignored);
    return 0;
  });
}

std::string SandboxHost::readFile(std::string_view path) const {
  const std::string target(path);
  const auto text = insideReporting([&](int fd) {
    const int in = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
    const bool ok = in >= 0 && writeAll(fd, readAll(in));
    if (in >= 0) ::close(in);
    return ok;
  });
  if (!text) throw std::runtime_error("cannot read " + target + " in the sandbox");
  return *text;
}

bool SandboxHost::exists(std::string_view path) const {
  const std::string target(path);
  struct stat st;
  return inside([&] { return ::lstat(target.c_str(), &st) == 0 ? 0 : 1; }) == 0;
}

bool SandboxHost::isSymlink(std::string_view path) const {
  const std::string target(path);
  struct stat st;
  return inside([&] { return ::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode) ? 0 : 1; }) == 0;
}

std::string SandboxHost::readLink(std::string_view path) const {
  const std::string target(path);
  return insideReporting([&](int fd) {
           char buffer[4096];
           const ssize_t n = ::readlink(target.c_str(), buffer, sizeof buffer);
           return n >= 0 && writeAll(fd, std::string_view(buffer, static_cast<std::size_t>(n)));
         })
      .value_or("");
}

mode_t SandboxHost::mode(std::string_view path) const {
  const std::string target(path);
  const auto text = insideReporting([&](int fd) {
    struct stat st;
    return ::lstat(target.c_str(), &st) == 0 && writeAll(fd, std::to_string(st.st_mode & 07777));
  });
  return text ? static_cast<mode_t>(std::stoul(*text)) : 0;
}

std::vector<std::string> SandboxHost::listDir(std::string_view path) const {
  const std::string target(path);
  std::istringstream lines(insideReporting([&](int fd) {
                             std::error_code error;
                             std::string names;
                             for (const auto& entry : fs::directory_iterator(target, error)) {
                               names += entry.path().filename().string() + "\n";
                             }
                             return writeAll(fd, names);
                           }).value_or(""));
  std::vector<std::string> names;
  for (std::string line; std::getline(lines, line);) names.push_back(line);
  std::sort(names.begin(), names.end());
  return names;
}

void SandboxHost::copyIn(const std::string& hostSource, std::string_view path) {
  if (fs::is_directory(hostSource)) {
    makeDirs(path);
    for (const auto& entry : fs::directory_iterator(hostSource)) {
      copyIn(entry.path().string(), std::string(path) + "/" + entry.path().filename().string());
    }
    return;
  }
  std::ifstream in(hostSource, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + hostSource);
  std::ostringstream content;
  content << in.rdbuf();
  const auto perms = fs::status(hostSource).permissions();
  writeFile(path, content.str(), static_cast<mode_t>(perms) & 07777);
}

void SandboxHost::installStub(std::string_view path, int exitCode, std::string_view output, std::string_view extraScript) {
  const std::string record = stubRecordPath(path);
  std::string script = "#!/bin/sh\n";
  script += "mkdir -p /var/lib/sandbox-stubs\n";
  script += "echo \"$0 $*\" >> " + record + "\n";
  if (!output.empty()) {
    script += "cat <<'SANDBOX_STUB_OUTPUT'\n" + std::string(output);
    if (output.back() != '\n') script += "\n";
    script += "SANDBOX_STUB_OUTPUT\n";
  }
  script += std::string(extraScript) + "\n";
  script += "exit " + std::to_string(exitCode) + "\n";
  writeFile(path, script, 0755);
}

std::vector<std::string> SandboxHost::stubCalls(std::string_view path) const {
  const std::string record = stubRecordPath(path);
  if (!exists(record)) return {};
  std::istringstream lines(readFile(record));
  std::vector<std::string> calls;
  for (std::string line; std::getline(lines, line);) calls.push_back(line);
  return calls;
}

void SandboxHost::installSetup(std::string_view dir) { copyIn(VELA_SETUP_BINARY, std::string(dir) + "/setup"); }

void SandboxHost::installProduct(std::string_view dir, const std::vector<std::string>& ppds) {
  const std::string to(dir);
  if (ppds.empty()) {
    copyIn(VELA_PRODUCT_DIR, to);
  } else {
    for (const std::string part : {"/bin", "/etc"}) copyIn(VELA_PRODUCT_DIR + part, to + part);
    for (const std::string& ppd : ppds) copyIn(VELA_PRODUCT_DIR "/ppd/" + ppd, to + "/ppd/" + ppd);
  }
  installSetup(to + "/bin");
}
