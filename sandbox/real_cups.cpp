// The real scheduler in a sandbox view. The view starts from the machine's
// own CUPS installation; its queues, jobs and caches are cleared so a test
// sees only the queues it makes, and file: device URIs are allowed so jobs
// can be checked where they land.
#include "sandbox/real_cups.h"

#include <unistd.h>

#include <chrono>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

constexpr const char* kCupsd = "/usr/sbin/cupsd";

// What the view needs before the scheduler starts: no queues or jobs from
// the machine, file: devices allowed, the run and output directories.
const char* kPrepareScript = R"(set -e
rm -f /etc/cups/printers.conf* /etc/cups/classes.conf /etc/cups/subscriptions.conf /etc/cups/lpoptions
rm -rf /etc/cups/ppd /var/cache/cups /var/spool/cups /run/cups
mkdir -p /etc/cups/ppd /var/cache/cups /run/cups/certs /var/log/cups
install -d -m 0710 -g lp /var/spool/cups
install -d -m 01770 -g lp /var/spool/cups/tmp
sed -i '/^[[:space:]]*FileDevice/d' /etc/cups/cups-files.conf
echo 'FileDevice Yes' >> /etc/cups/cups-files.conf
install -d -m 0777 /var/spool/vela-out
)";

// Reads `lpoptions -l` lines such as "PageSize/Media Size: A4 *Letter".
QueueOptions parseLpoptions(const std::string& text) {
  QueueOptions options;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t colon = line.find(": ");
    if (colon == std::string::npos) continue;
    QueueOption& option = options[line.substr(0, line.find_first_of("/:"))];
    const std::size_t star = line.find('*', colon);
    if (star != std::string::npos) option.defaultChoice = line.substr(star + 1, line.find(' ', star) - star - 1);
  }
  return options;
}

// Polls done() until it holds; false once seconds have passed.
bool waitFor(unsigned seconds, const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
  return true;
}

}  // namespace

std::string RealCups::unavailableReason() {
  for (const char* tool : {kCupsd, "/usr/sbin/lpadmin", "/usr/bin/lpstat", "/usr/bin/lpoptions", "/usr/bin/lp"}) {
    if (::access(tool, X_OK) != 0) return std::string("no CUPS command ") + tool;
  }
  return {};
}

RealCups::RealCups(SandboxHost& host) : host_(host) {
  const RunResult prepared = host_.shell(kPrepareScript);
  if (prepared.status != 0) throw std::runtime_error("cannot prepare CUPS in the sandbox: " + prepared.err);
  // Started the way the init script starts it: cupsd detaches and writes
  // /run/cups/cupsd.pid, so a later "restart" of the host finds it.
  const RunResult started = host_.run({kCupsd});
  if (started.status != 0) throw std::runtime_error("cupsd did not start: " + started.err);
  if (!waitUntilRunning(60)) throw std::runtime_error("cupsd does not answer in the sandbox");
}

RealCups::~RealCups() {
  try {
    stop();
  } catch (...) {  // the sandbox ends every process of its view anyway
  }
}

void RealCups::stop() {
  // Only the view's own processes are visible to pidof here.
  const std::string killAll = "pids=$(pidof cupsd) || exit 0; kill $pids 2>/dev/null; exit 1";
  waitFor(5, [&] { return host_.shell(killAll).status == 0; });
}

bool RealCups::waitUntilRunning(unsigned seconds) {
  return waitFor(seconds, [this] {
    return runCups({"/usr/bin/lpstat", "-r"}).out.find("scheduler is running") != std::string::npos;
  });
}

RunResult RealCups::runCups(const std::vector<std::string>& argv) {
  RunOptions options;
  options.timeoutSeconds = 60;
  return host_.run(argv, options);
}

std::string RealCups::addQueue(const std::string& queue, const std::string& ppd,
                               const std::vector<std::string>& settings) {
  const std::string uri = "file://" + std::string(kOutputDir) + "/" + queue;
  const RunResult added = runCups({"/usr/sbin/lpadmin", "-p", queue, "-E", "-v", uri, "-P", ppd});
  if (added.status != 0) return "lpadmin -p " + queue + " -P " + ppd + ": " + added.err;
  std::vector<std::string> argv = {"/usr/sbin/lpadmin", "-p", queue};
  for (const std::string& setting : settings) argv.insert(argv.end(), {"-o", setting});
  const RunResult set = runCups(argv);
  return set.status == 0 ? "" : "lpadmin -o for " + queue + ": " + set.err;
}

RunResult RealCups::lpoptions(const std::string& queue) { return runCups({"/usr/bin/lpoptions", "-p", queue, "-l"}); }

QueueOptions RealCups::options(const std::string& queue) { return parseLpoptions(lpoptions(queue).out); }

std::vector<std::string> RealCups::queues() {
  std::vector<std::string> names;
  std::istringstream lines(runCups({"/usr/bin/lpstat", "-p"}).out);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("printer ")) names.push_back(line.substr(8, line.find(' ', 8) - 8));
  }
  return names;
}

RunResult RealCups::print(const std::string& queue, const std::string& fileInView) {
  return runCups({"/usr/bin/lp", "-d", queue, fileInView});
}

bool RealCups::waitForJobsDone(const std::string& queue, unsigned seconds) {
  return waitFor(seconds, [&] {
    const RunResult pending = runCups({"/usr/bin/lpstat", "-o", queue});
    return pending.status == 0 && pending.out.empty();
  });
}
