// The real scheduler in a sandbox view. The view starts from the machine's
// own CUPS installation; its queues, jobs and caches are cleared so a test
// sees only the queues it makes, and file: device URIs are allowed so jobs
// can be checked where they land.
#include "support/real_cups.h"

#include <unistd.h>

#include <chrono>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

constexpr const char* kCupsd = "/usr/sbin/cupsd";

std::vector<std::string> splitWords(std::string_view text) {
  std::vector<std::string> words;
  std::istringstream in{std::string(text)};
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// What the view needs before the scheduler starts: no queues or jobs from
// the machine, file: devices allowed, the run and output directories.
const char* kPrepareScript = R"(set -e
rm -f /etc/cups/printers.conf /etc/cups/printers.conf.O /etc/cups/classes.conf \
      /etc/cups/subscriptions.conf /etc/cups/lpoptions
rm -rf /etc/cups/ppd /var/cache/cups /var/spool/cups /run/cups
mkdir -p /etc/cups/ppd /var/cache/cups /run/cups/certs /var/log/cups
install -d -m 0710 -g lp /var/spool/cups
install -d -m 01770 -g lp /var/spool/cups/tmp
sed -i '/^[[:space:]]*FileDevice/d' /etc/cups/cups-files.conf
echo 'FileDevice Yes' >> /etc/cups/cups-files.conf
mkdir -p /var/spool/vela-out
chmod 0777 /var/spool/vela-out
)";

}  // namespace

QueueOptions parseLpoptions(std::string_view text) {
  QueueOptions options;
  std::istringstream lines{std::string(text)};
  for (std::string line; std::getline(lines, line);) {
    const std::size_t colon = line.find(": ");
    if (colon == std::string::npos) continue;
    const std::string head = line.substr(0, colon);
    const std::string name = head.substr(0, head.find('/'));
    QueueOption& option = options[name];
    for (std::string choice : splitWords(std::string_view(line).substr(colon + 2))) {
      if (choice.starts_with("*")) {
        choice.erase(0, 1);
        option.defaultChoice = choice;
      }
      option.choices.push_back(choice);
    }
  }
  return options;
}

std::string RealCups::unavailableReason() {
  if (::access(kCupsd, X_OK) != 0) return std::string("no CUPS scheduler at ") + kCupsd;
  for (const char* tool : {"/usr/sbin/lpadmin", "/usr/bin/lpstat", "/usr/bin/lpoptions", "/usr/bin/lp"}) {
    if (::access(tool, X_OK) != 0) return std::string("no CUPS client command ") + tool;
  }
  return {};
}

RealCups::RealCups(SandboxHost& host) : host_(host) {
  const RunResult prepared = host_.shell(kPrepareScript);
  if (prepared.status != 0) throw std::runtime_error("cannot prepare CUPS in the sandbox: " + prepared.err);
  start();
}

RealCups::~RealCups() {
  try {
    stop();
  } catch (...) {
    // The sandbox ends every process of its view anyway.
  }
}

void RealCups::start() {
  // Started the way the init script starts it: cupsd detaches and writes
  // /run/cups/cupsd.pid, so a later "restart" of the host finds it.
  const RunResult started = host_.run({kCupsd});
  if (started.status != 0) throw std::runtime_error("cupsd did not start: " + started.err);
  if (!waitUntilRunning(30)) throw std::runtime_error("cupsd does not answer in the sandbox");
}

void RealCups::stop() {
  for (int attempt = 0; attempt < 50; ++attempt) {
    const std::vector<std::string> pids = schedulerPids();
    if (pids.empty()) return;
    std::string command = "kill";
    for (const std::string& pid : pids) command += " " + pid;
    host_.shell(command + " 2>/dev/null");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

std::vector<std::string> RealCups::schedulerPids() {
  // Only the view's own processes are visible here.
  return splitWords(host_.run({"/bin/pidof", "cupsd"}).out);
}

bool RealCups::running() {
  return runCups({"/usr/bin/lpstat", "-r"}).out.find("scheduler is running") != std::string::npos;
}

bool RealCups::waitUntilRunning(unsigned seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    if (running()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
}

RunResult RealCups::runCups(const std::vector<std::string>& argv) {
  RunOptions options;
  options.timeoutSeconds = 60;
  return host_.run(argv, options);
}

RunResult RealCups::addQueue(const std::string& queue, const std::string& ppdInView) {
  const std::string uri = "file://" + std::string(kOutputDir) + "/" + queue;
  return runCups({"/usr/sbin/lpadmin", "-p", queue, "-E", "-v", uri, "-P", ppdInView});
}

RunResult RealCups::setDefaults(const std::string& queue, const std::vector<std::string>& settings) {
  std::vector<std::string> argv = {"/usr/sbin/lpadmin", "-p", queue};
  for (const std::string& setting : settings) {
    argv.push_back("-o");
    argv.push_back(setting);
  }
  return runCups(argv);
}

RunResult RealCups::lpoptions(const std::string& queue) { return runCups({"/usr/bin/lpoptions", "-p", queue, "-l"}); }

QueueOptions RealCups::options(const std::string& queue) { return parseLpoptions(lpoptions(queue).out); }

std::vector<std::string> RealCups::queues() {
  std::vector<std::string> names;
  std::istringstream lines(runCups({"/usr/bin/lpstat", "-p"}).out);
  for (std::string line; std::getline(lines, line);) {
    const std::vector<std::string> words = splitWords(line);
    if (words.size() >= 2 && words[0] == "printer") names.push_back(words[1]);
  }
  return names;
}

RunResult RealCups::print(const std::string& queue, const std::string& fileInView) {
  return runCups({"/usr/bin/lp", "-d", queue, fileInView});
}

bool RealCups::waitForJobsDone(const std::string& queue, unsigned seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    const RunResult pending = runCups({"/usr/bin/lpstat", "-o", queue});
    if (pending.status == 0 && pending.out.empty()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
}
