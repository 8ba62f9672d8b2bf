// A throwaway view of this machine for behaviour tests. Each SandboxHost has
// its own mount, pid, network (loopback up), UTS and IPC namespaces, an
// overlay of / (or of another root directory) whose upper layer lives on a tmpfs of its own, a fresh /proc
// and an empty /tmp. Whatever a test or the installer writes stays in the
// overlay and is gone with the object; nothing reaches the real machine.
// Every file operation below happens inside the view (chrooted), so links
// planted in it cannot lead outside.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

struct RunOptions {
  std::string stdinText;
  std::vector<std::string> env;  // "NAME=value", added to the base environment
  uid_t uid = 0;
  gid_t gid = 0;
  std::string cwd = "/";
  unsigned timeoutSeconds = 300;
};

struct RunResult {
  int status = -1;  // exit code, or 128 + signal number
  std::string out;
  std::string err;
};

class SandboxHost {
 public:
  // Empty when sandboxes can be made here, else why not.
  static const std::string& unavailableReason();
  // True when CI=true: a sandbox test may not skip there.
  static bool onCi();

  // lowerRoot: the directory the view shows beneath its overlay, / (this
  // machine) unless another system's root is given (a Debian root, say).
  explicit SandboxHost(std::string lowerRoot = "/");
  ~SandboxHost();
  SandboxHost(const SandboxHost&) = delete;
  SandboxHost& operator=(const SandboxHost&) = delete;

  // Files, as seen inside the view. Parent directories are made as needed;
  // an existing entry (a link included) is replaced, never written through.
  void writeFile(std::string_view path, std::string_view content, mode_t mode = 0644);
  std::string readFile(std::string_view path) const;
  bool exists(std::string_view path) const;       // lstat: links count themselves
  bool isSymlink(std::string_view path) const;
  std::string readLink(std::string_view path) const;
  mode_t mode(std::string_view path) const;       // permission bits, 0 when missing
  void makeDirs(std::string_view path, mode_t mode = 0755);
  void remove(std::string_view path);             // recursive, does not follow links
  void makeSymlink(std::string_view target, std::string_view linkPath);
  void makeFifo(std::string_view path);
  std::vector<std::string> listDir(std::string_view path) const;  // sorted names
  // Copies a file or directory tree of the real machine into the view.
  void copyIn(const std::string& hostSource, std::string_view path);

  // A stub command at path: appends "$0 $@" as one line to its call record,
  // prints output, runs extraScript, and exits with exitCode.
  void installStub(std::string_view path, int exitCode = 0, std::string_view output = "",
                   std::string_view extraScript = "");
  // Lines the stub at path recorded, one per call.
  std::vector<std::string> stubCalls(std::string_view path) const;

  // The built setup binary as dir/setup.
  void installSetup(std::string_view dir = "/opt/tam/bin");
  // The sample product (bin, etc, ppd) laid out under dir, setup included;
  // of its PPDs only the named ones when ppds is not empty, as each further
  // file costs its copy and its place in every listing of the host.
  void installProduct(std::string_view dir = "/opt/tam", const std::vector<std::string>& ppds = {});

  RunResult run(const std::vector<std::string>& argv, const RunOptions& options = {});
  RunResult shell(const std::string& script, const RunOptions& options = {});
  // Starts argv in the background; it lives until the sandbox ends.
  void startBackground(const std::vector<std::string>& argv);

  // What the view itself has changed below path, however the real machine's
  // own files change meanwhile: a line for each entry that the overlay's upper
  // layer holds there (made, rewritten, chmod-ed, or "gone" when removed) and
  // for each entry of the view's own /tmp, which starts empty. An entry only
  // copied up, with the real machine's type, mode, owner, time and bytes, is
  // left out. Sorted by path; files show size, inode, change time and a
  // checksum, so that a write, chmod, chown or rename shows.
  std::string changedEntries(std::string_view below = "/") const;

  // The update log of a root run.
  std::string log() const { return readFile("/var/log/Vela4.0_UpdateLog"); }

  // Runs fn inside the view (chrooted, in its mount namespace) in a child
  // process; returns fn's result, or -1 when the child failed.
  int inside(const std::function<int()>& fn) const;

  // The view's namespace of the given kind ("net", "mnt", ...) as a /proc
  // path of the real machine, for joining the view to others (veth links).
  std::string namespacePath(std::string_view kind) const;

 private:
  std::optional<std::string> insideReporting(const std::function<bool(int fd)>& fn) const;
  void makeInside(const std::string& what, const std::filesystem::path& path, const std::function<bool()>& fn);

  std::string base_;
  pid_t initPid_ = -1;    // pid 1 of the view, as the real machine numbers it
  pid_t holderPid_ = -1;  // its parent, which made the namespaces
};

// Skips a behaviour test where no sandbox can be made; fails it under CI.
#define REQUIRE_SANDBOX()                                                    \
  do {                                                                       \
    const std::string& whyNot_ = SandboxHost::unavailableReason();           \
    if (!whyNot_.empty()) {                                                  \
      if (SandboxHost::onCi()) FAIL() << "sandbox host unavailable: " << whyNot_; \
      GTEST_SKIP() << "sandbox host unavailable: " << whyNot_;               \
    }                                                                        \
  } while (0)
