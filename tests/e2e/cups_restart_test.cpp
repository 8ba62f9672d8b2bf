// The CUPS restart of an upgrade on a busy print server (real scheduler, slow backend): every job prints once,
// CUPS restarts once and not for a re-run that changed nothing, and held jobs are released, by a later run
// when this one was killed.
#include <regex>

#include <nlohmann/json.hpp>

#include "sandbox/slow_printing.h"
#include "sandbox/upgrade_scenario.h"

namespace {

const std::vector<std::string> kProductQueues = {"lab1", "lab2"};
const std::string kRecord = "/var/lib/Vela4.0_HeldJobs";

long countOf(const std::string& text, const std::string& pattern) {
  const std::regex re(pattern);
  return std::distance(std::sregex_iterator(text.begin(), text.end(), re), std::sregex_iterator());
}

void expectCount(const std::string& text, const std::string& pattern, long count) {
  EXPECT_EQ(countOf(text, pattern), count) << pattern << " in:\n" << text;
}

class BusyUpgrade : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_REAL_CUPS();
    host_.emplace();
    cups_.emplace(*host_);
    ASSERT_EQ(prepareUpgradeHost(*host_, *cups_), "");
    // Long enough that the first two jobs still print when even a sanitizer build of setup comes to its restart.
    ASSERT_EQ(useSlowBackend(*host_, kProductQueues, 4), "");
  }

  RunResult runSetup(std::vector<std::string> argv = {}, std::vector<std::string> env = {}) {
    argv.insert(argv.begin(), "/opt/tam/bin/setup");
    RunResult result = host_->run(argv, {.stdinText = "no\n", .env = env, .timeoutSeconds = 300});
    EXPECT_EQ(result.status, 0) << result.err;  // whatever the host, as every run of setup
    return result;
  }

  // Jobs held, by their state reasons in `lpstat -l -o`, and whether a record of them is left.
  void expectHeld(long jobs) {
    expectCount(host_->run({"/usr/bin/lpstat", "-l", "-o"}).out, "job-hold-until-specified", jobs);
    EXPECT_EQ(host_->exists(kRecord), jobs > 0) << kRecord;
  }

  std::optional<SandboxHost> host_;
  std::optional<RealCups> cups_;
};

// Jobs printing through an upgrade, and through runs side by side.
TEST_F(BusyUpgrade, JobsInPrintFinishOnceAndCupsRestartsOnce) {
  const std::vector<std::string> jobs = submitJobs(*host_, kProductQueues, 6);
  ASSERT_TRUE(waitUntilPrinting(*host_, 2, 30));
  runSetup();

  EXPECT_EQ(tallyJobs(*host_, *cups_, jobs, 90).line(), (JobTally{.submitted = 6, .completedOnce = 6}).line());
  expectCount(host_->log(), "CUPS restart command:", 1);
  // Jobs 3 to 6 wait while 1 and 2 print: held until the restart, then released.
  expectCount(host_->log(), "Holding job [3-6]: result=0\n", 4);
  expectCount(host_->log(), "Waited [0-9.]+ seconds until no job was printing \\(2 printing at first\\)\\.\n", 1);
  expectCount(host_->log(), "Releasing job [3-6]: result=0\n", 4);
  expectHeld(0);

  // Runs beside a first (old PPDs back): one that may wait a second ends untouched; one that waits finds all up
  // to date and holds, releases or cuts off none of the jobs printing meanwhile.
  ASSERT_TRUE(cups_->waitUntilRunning(60));
  ASSERT_EQ(host_->shell("for q in lab1 lab2; do cp /etc/cups/$q.ppd.rpmsave /etc/cups/ppd/$q.ppd; done").status, 0);
  const std::vector<std::string> more = submitJobs(*host_, kProductQueues, 6);
  ASSERT_TRUE(waitUntilPrinting(*host_, 2, 30));
  const RunResult runs = host_->shell(
      "cd /opt/tam/bin; ./setup </dev/null >/root/first 2>&1 & echo $!; sleep 0.5; "
      "VELALOCKWAIT=1 ./setup </dev/null >/root/short 2>/root/short.err; cp /var/log/Vela4.0_UpdateLog /root/log; "
      "./setup </dev/null >/root/second 2>/dev/null; wait");
  ASSERT_EQ(runs.status, 0) << runs.err;
  const std::string first = "process " + runs.out.substr(0, runs.out.find('\n'));
  for (const char* out : {"/root/short", "/root/short.err"})
    EXPECT_NE(host_->readFile(out).find(first + ") still holds the run lock /run/Vela4.0_RunLock after 1 seconds: this "
                                        "run ends without changing anything.\n"), std::string::npos) << out;
  expectCount(host_->readFile("/root/log"), "Starting Vela", 1);
  expectCount(host_->readFile("/root/first"), "Queues: 2 updated", 1);
  expectCount(host_->readFile("/root/second"), first + "\\) holds the run lock|Queues: 0 updated, 2 up to date", 2);
  expectCount(host_->log(), "Waited [0-9.]+ seconds for the run lock /run/Vela4.0_RunLock, held by " + first + "\\.", 1);
  expectCount(host_->log(), "CUPS restart command:|Holding job|Jobs held by|Waited [0-9.]+ seconds (until|for pr)", 0);
  expectCount(host_->log(), "CUPS is not restarted: this run changed nothing that CUPS reads\\.\n", 1);
  EXPECT_NE(host_->readFile("/var/log/Vela4.0_UpdateReport.json").find("\"upToDate\": 2,"), std::string::npos);
  EXPECT_EQ(tallyJobs(*host_, *cups_, more, 90).line(), (JobTally{.submitted = 6, .completedOnce = 6}).line());
}

// An endless job with two behind it and one for a stopped queue: a preview, a run that gives up waiting at its
// bound, runs stopped and killed while they wait, the next run's release, a restart the releases cannot reach.
TEST_F(BusyUpgrade, WaitIsBoundedAndHeldJobsAreReleasedEvenByTheNextRun) {
  ASSERT_EQ(host_->run({"/usr/sbin/cupsdisable", "other"}).status, 0);
  submitJobs(*host_, {"lab1"}, 1, kEndlessJobTitle);
  ASSERT_TRUE(waitUntilPrinting(*host_, 1, 30));
  submitJobs(*host_, {"lab1", "lab1", "other"}, 3);

  // A preview only tells.
  runSetup({"-n"});
  const std::string forecast = host_->readFile("/var/log/Vela4.0_PreviewLog");
  expectCount(forecast, "CUPS would be restarted once no job is printing; jobs printing now: 1\\.\n", 1);
  expectCount(forecast, "Holding job", 0);
  expectCount(forecast, "Would run: [^\n]*restart cups", 1);

  runSetup({}, {"VELARESTARTWAIT=2"});
  expectCount(host_->log(), "Waited 2 seconds for printing jobs to finish: 1 still printing, restarting CUPS anyway.\n", 1);
  expectCount(host_->log(), "CUPS restart command:", 1);
  expectCount(host_->log(), "Holding job [2-4]: result=0\n", 3);
  expectCount(host_->log(), "Releasing job [2-4]: result=0\n", 3);
  expectHeld(0);
  ASSERT_TRUE(cups_->waitUntilRunning(60));
  // Started once before the restart and once after it, never finished.
  ASSERT_TRUE(waitUntilPrinting(*host_, 2, 30)) << "the endless job did not start again";

  // A run stopped while it waits (lab1's old PPD back, to give it a restart) releases what it held.
  const auto stopWhileWaiting = [&](const std::string& signal) {
    return host_->shell("rm /var/log/Vela4.0_UpdateLog; cp /etc/cups/lab1.ppd.rpmsave /etc/cups/ppd/lab1.ppd; "
                        "/opt/tam/bin/setup </dev/null >/dev/null 2>&1 & "
                        "for i in $(seq 600); do [ \"$(grep -sc '^Holding job' /var/log/Vela4.0_UpdateLog)\" = 3 ] "
                        "&& break; sleep 0.1; done; kill -" + signal + " $!; wait $!; exit 0");
  };
  ASSERT_EQ(stopWhileWaiting("TERM").status, 0);
  expectCount(host_->log(), "Stopped by signal 15 while waiting for printing jobs: CUPS is not restarted.\n", 1);
  expectCount(host_->log(), "Releasing job [2-4]: result=0\n|CUPS restart command", 3);
  expectHeld(0);
  const nlohmann::json stopped = nlohmann::json::parse(host_->readFile("/var/log/Vela4.0_UpdateReport.json"));
  EXPECT_EQ(stopped.value("reason", ""), "stopped by signal 15 while waiting for printing jobs");  // not an older one's

  // A run killed while it waits cannot release: its record tells the next run.
  ASSERT_EQ(stopWhileWaiting("KILL").status, 0);
  expectHeld(3);

  // While the process the record names as its owner runs, the jobs are its to release.
  const std::string owner = host_->shell("sleep 600 </dev/null >/dev/null 2>&1 & t=$(sed 's/.*) //' /proc/$!/stat | "
                                         "cut -d' ' -f20); sed -i \"s/^# Owner: .*/# Owner: process $!, started $t/\" " +
                                         kRecord + "; echo $!").out;
  const RunResult afterKill = runSetup({"-d"});
  EXPECT_EQ(afterKill.out.find("run lock"), std::string::npos) << "the killed run's lock outlived it";
  expectCount(host_->log(),
              "Jobs held by setup process " + owner.substr(0, owner.size() - 1) + ", which is still running: 3, left to it.\n", 1);
  expectHeld(3);
  // The same process id with another start time is another process.
  ASSERT_EQ(host_->shell("sed -i 's/started [0-9]*/started 1/' " + kRecord).status, 0);
  runSetup({"-d"});
  const std::string log = host_->log();
  EXPECT_LT(log.find("Jobs held by an earlier run that did not finish: 3.\n"), log.find("System Scheduler")) << log;
  expectCount(host_->log(), "Releasing job [2-4]: result=0\n", 3);
  expectHeld(0);
  // "printer lab1 is idle.  enabled since ..." and the like.
  for (const auto& [queue, state] : {std::pair{"lab1", "enabled"}, {"lab2", "enabled"}, {"other", "disabled"}})
    EXPECT_GT(countOf(host_->run({"/usr/bin/lpstat", "-p", queue}).out, state), 0) << queue;
  EXPECT_EQ(countOf(host_->run({"/usr/bin/lpstat", "-a"}).out, "accepting requests"), 3);

  // No scheduler answers after the restart: the record keeps the held jobs for the run after it is back.
  host_->installStub("/usr/bin/systemctl", 0, "", "kill $(pidof cupsd)");
  ASSERT_EQ(host_->shell("cp /etc/cups/lab1.ppd.rpmsave /etc/cups/ppd/lab1.ppd").status, 0);
  runSetup({}, {"VELARESTARTWAIT=1"});
  expectCount(host_->log(), "Holding job [2-4]: result=0\n", 3);
  expectCount(host_->log(), "Releasing job [2-4]: result=-1 \\(nothing accepts a connection at [^)]*\\)\n", 3);
  expectCount(host_->log(), "Jobs left held until a later run can release them: 3 \\(" + kRecord + "\\)\\.\n", 1);
  expectCount(host_->readFile(kRecord), "[2-4]\n", 3);
  ASSERT_EQ(host_->run({"/usr/sbin/cupsd"}).status, 0);
  ASSERT_TRUE(cups_->waitUntilRunning(60));
  runSetup({"-d"});
  expectCount(host_->log(), "Jobs held by an earlier run that did not finish: 3\\.\n", 1);
  expectCount(host_->log(), "Releasing job [2-4]: result=0\n", 3);
  expectHeld(0);
}

}  // namespace
