// The host's real CUPS scheduler, run inside a SandboxHost: the view's own network
// namespace keeps port 631 and the socket private, its /etc/cups and spool are the
// overlay's copies. Queues are made and read with the real lpadmin, lpoptions, lpstat, lp.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "sandbox/sandbox_host.h"

// One option as `lpoptions -l` shows it: the choice marked as default.
struct QueueOption {
  std::string defaultChoice;
  bool operator==(const QueueOption&) const = default;
};
using QueueOptions = std::map<std::string, QueueOption>;

class RealCups {
 public:
  // Directory that file: queues print into.
  static constexpr std::string_view kOutputDir = "/var/spool/vela-out";
  // Empty when the host's CUPS can serve a sandbox, else why not.
  static std::string unavailableReason();

  // Clears the view's queues and jobs, allows file: devices and starts the
  // scheduler; throws when it does not answer. The destructor stops it.
  explicit RealCups(SandboxHost& host);
  ~RealCups();
  RealCups(const RealCups&) = delete;

  // Stops whichever cupsd serves the view by then.
  void stop();
  // Polls until `lpstat -r` says "scheduler is running".
  bool waitUntilRunning(unsigned seconds);
  // lpadmin -p queue -E -v file:///var/spool/vela-out/queue -P ppd, then
  // lpadmin -p queue -o setting... Empty on success, else what failed.
  std::string addQueue(const std::string& queue, const std::string& ppd, const std::vector<std::string>& settings);
  // lpoptions -p queue -l, raw and parsed.
  RunResult lpoptions(const std::string& queue);
  QueueOptions options(const std::string& queue);
  // Queue names that `lpstat -p` lists.
  std::vector<std::string> queues();
  // lp -d queue file, and waiting until the queue has no pending job.
  RunResult print(const std::string& queue, const std::string& fileInView);
  bool waitForJobsDone(const std::string& queue, unsigned seconds);

 private:
  RunResult runCups(const std::vector<std::string>& argv);

  SandboxHost& host_;
};

// Skips where no sandbox or no CUPS is at hand; fails instead under CI.
#define REQUIRE_REAL_CUPS()                                                    \
  do {                                                                         \
    REQUIRE_SANDBOX();                                                         \
    if (const std::string noCups_ = RealCups::unavailableReason(); !noCups_.empty()) { \
      if (SandboxHost::onCi()) FAIL() << "real CUPS unavailable: " << noCups_; \
      GTEST_SKIP() << "real CUPS unavailable: " << noCups_;                    \
    }                                                                          \
  } while (0)
