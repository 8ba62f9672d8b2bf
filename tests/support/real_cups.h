// The host's real CUPS scheduler, run inside a SandboxHost. The view has its
// own network namespace, so port 631 and the scheduler's socket belong to
// it alone; its /etc/cups and spool are the overlay's copies. Queues are
// made and read with the real lpadmin, lpoptions, lpstat and lp.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "support/sandbox_host.h"

// One option as `lpoptions -l` shows it: its choices and the marked default.
struct QueueOption {
  std::string defaultChoice;
  std::vector<std::string> choices;
};
using QueueOptions = std::map<std::string, QueueOption>;

// Parses `lpoptions -l` output ("PageSize/Media Size: *Letter A4").
QueueOptions parseLpoptions(std::string_view text);

class RealCups {
 public:
  // Empty when the host's CUPS can serve a sandbox, else why not.
  static std::string unavailableReason();

  // Prepares the view (file: devices allowed, an empty spool, an output
  // directory) and starts the scheduler; throws when it does not answer.
  explicit RealCups(SandboxHost& host);
  // Stops the scheduler, whichever process serves by then.
  ~RealCups();
  RealCups(const RealCups&) = delete;
  RealCups& operator=(const RealCups&) = delete;

  // Directory that file: queues print into.
  static constexpr std::string_view kOutputDir = "/var/spool/vela-out";

  void start();
  void stop();
  // True when `lpstat -r` says "scheduler is running".
  bool running();
  // Polls running() until it holds or seconds pass.
  bool waitUntilRunning(unsigned seconds);

  // lpadmin -p queue -E -v file:///var/spool/vela-out/queue -P ppd.
  RunResult addQueue(const std::string& queue, const std::string& ppdInView);
  // lpadmin -p queue -o option=value, each given setting in one call.
  RunResult setDefaults(const std::string& queue, const std::vector<std::string>& settings);
  // lpoptions -p queue -l, raw and parsed.
  RunResult lpoptions(const std::string& queue);
  QueueOptions options(const std::string& queue);
  // Queue names that `lpstat -p` lists.
  std::vector<std::string> queues();
  // lp -d queue file; the job id text on success.
  RunResult print(const std::string& queue, const std::string& fileInView);
  // Waits until queue has no pending job; false after seconds.
  bool waitForJobsDone(const std::string& queue, unsigned seconds);

 private:
  RunResult runCups(const std::vector<std::string>& argv);
  std::vector<std::string> schedulerPids();

  SandboxHost& host_;
};
