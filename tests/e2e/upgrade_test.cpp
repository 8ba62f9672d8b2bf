// The installer against the real scheduler: queues made from the product's
// previous PPD generation are upgraded in place, keep the defaults their
// administrator chose, still print, survive a second run unchanged, and go
// away with the product on de-installation. No CUPS command is stubbed.
#include <map>

#include "e2e/e2e_support.h"
#include "e2e/upgrade_scenario.h"

namespace {

using Defaults = std::map<std::string, std::string>;

// What lpoptions must show after the upgrade. The administrator's choices
// and the old PPD's untouched defaults are carried over; OutputBin is new in
// this generation and keeps the new PPD's default.
const std::map<std::string, Defaults> kExpectedAfterUpgrade = {
    {"lab1",
     {{"PageSize", "A5"}, {"Duplex", "DuplexTumble"}, {"InputSlot", "Tray1"}, {"Resolution", "300dpi"},
      {"OutputBin", "FaceDown"}}},
    {"lab2",
     {{"PageSize", "Legal"}, {"Duplex", "DuplexNoTumble"}, {"InputSlot", "Manual"}, {"Resolution", "1200dpi"},
      {"OutputBin", "FaceDown"}}},
};

RunResult runSetup(SandboxHost& host, const std::vector<std::string>& options = {}, const std::string& answers = "") {
  std::vector<std::string> argv = {"/opt/tam/bin/setup"};
  argv.insert(argv.end(), options.begin(), options.end());
  return host.run(argv, {.stdinText = answers, .timeoutSeconds = 300});
}

std::map<std::string, QueueOptions> allOptions(RealCups& cups) {
  std::map<std::string, QueueOptions> all;
  for (const ScenarioQueue& queue : productQueues()) all[queue.name] = cups.options(queue.name);
  all["other"] = cups.options("other");
  return all;
}

std::size_t countOf(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

bool sameDefaults(const QueueOptions& a, const QueueOptions& b) {
  if (a.size() != b.size()) return false;
  for (const auto& [name, option] : a) {
    if (!b.contains(name) || b.at(name).defaultChoice != option.defaultChoice) return false;
  }
  return true;
}

class UpgradeWithRealCups : public ::testing::Test {
 protected:
  void prepare() {
    host_ = std::make_unique<SandboxHost>();
    cups_ = std::make_unique<RealCups>(*host_);
    const std::string failed = prepareUpgradeHost(*host_, *cups_);
    ASSERT_EQ(failed, "");
    foreignPpdBefore_ = host_->readFile(queuePpdPath("other"));
  }

  std::unique_ptr<SandboxHost> host_;
  std::unique_ptr<RealCups> cups_;
  std::string foreignPpdBefore_;
};

TEST_F(UpgradeWithRealCups, QueuesGetTheNewPpdKeepTheirDefaultsAndStillPrint) {
  REQUIRE_REAL_CUPS();
  ASSERT_NO_FATAL_FAILURE(prepare());
  SandboxHost& host = *host_;
  RealCups& cups = *cups_;

  const RunResult run = runSetup(host);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string log = host.log();
  for (const char* line : {"System Scheduler = CUPS\n", "CUPS base dir: /\n", "CUPS binary dir: /usr\n",
                           "CUPS Header Version : 2400//HTTP", "New installation\n",
                           "CUPS reset returned with: 0\n"}) {
    EXPECT_NE(log.find(line), std::string::npos) << "missing \"" << line << "\" in the log:\n" << log;
  }

  // The scheduler was restarted by whichever method the host offers; it
  // answers again and lists every queue.
  ASSERT_TRUE(cups.waitUntilRunning(30)) << log;
  EXPECT_EQ(cups.queues(), (std::vector<std::string>{"lab1", "lab2", "other"}));

  for (const ScenarioQueue& queue : productQueues()) {
    SCOPED_TRACE(queue.name);
    const std::string newPpd = "/opt/tam/ppd/" + queue.ppdSource.substr(queue.ppdSource.rfind('/') + 1) + ".gz";
    const std::string installed = host.readFile(queuePpdPath(queue.name));
    EXPECT_EQ(withoutDefaultLines(installed), withoutDefaultLines(ppdTextInView(host, newPpd)))
        << "the queue's PPD is not the new one";
    const QueueOptions options = cups.options(queue.name);
    for (const auto& [name, value] : kExpectedAfterUpgrade.at(queue.name)) {
      ASSERT_TRUE(options.contains(name)) << name << " missing in\n" << cups.lpoptions(queue.name).out;
      EXPECT_EQ(options.at(name).defaultChoice, value) << name;
    }
  }
  EXPECT_EQ(host.readFile(queuePpdPath("other")), foreignPpdBefore_) << "the other maker's PPD was touched";

  // lab2 hands PostScript to its device; lab1's jobs go through foomatic-rip
  // and the product's filter. The PPDs wrap the page in PJL job commands.
  host.writeFile("/root/page.txt", "A test page after the Vela upgrade.\n");
  for (const char* queue : {"lab1", "lab2"}) {
    SCOPED_TRACE(queue);
    const RunResult job = cups.print(queue, "/root/page.txt");
    ASSERT_EQ(job.status, 0) << job.err;
    EXPECT_TRUE(cups.waitForJobsDone(queue, 60));
    const std::string output = std::string(RealCups::kOutputDir) + "/" + queue;
    ASSERT_TRUE(waitForOutput(host, output, 30)) << "the job never reached the file device";
    EXPECT_NE(host.readFile(output).find("%!PS"), std::string::npos);
  }

  // A second run is an upgrade over the current generation: it changes no
  // queue's defaults.
  const std::map<std::string, QueueOptions> before = allOptions(cups);
  const RunResult again = runSetup(host);
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_NE(host.log().find("Upgrade Mode = 2.\n"), std::string::npos) << host.log();
  ASSERT_TRUE(cups.waitUntilRunning(30));
  const std::map<std::string, QueueOptions> after = allOptions(cups);
  for (const auto& [queue, options] : before) {
    EXPECT_TRUE(sameDefaults(options, after.at(queue))) << queue << " now:\n" << cups.lpoptions(queue).out;
  }
  EXPECT_EQ(host.readFile(queuePpdPath("other")), foreignPpdBefore_);
}

TEST_F(UpgradeWithRealCups, DeinstallationRemovesTheListedQueuesAndTheProduct) {
  REQUIRE_REAL_CUPS();
  ASSERT_NO_FATAL_FAILURE(prepare());
  SandboxHost& host = *host_;
  RealCups& cups = *cups_;
  ASSERT_EQ(runSetup(host).status, 0);
  ASSERT_TRUE(cups.waitUntilRunning(30)) << host.log();

  // A new installation lists only "Default"; the queues of an earlier
  // installation stand in the same block after it.
  const std::string info = "/opt/tam/velaInfo4.0";
  ASSERT_TRUE(host.exists(info)) << host.log();
  host.writeFile(info, withPrinters(host.readFile(info), {"lab1", "lab2"}), host.mode(info));

  const RunResult removal = runSetup(host, {"-d"}, "yes\n");
  ASSERT_EQ(removal.status, 0) << removal.err;
  const std::string log = host.log();
  EXPECT_NE(log.find("Number of Vela printers found: 3."), std::string::npos) << log;
  EXPECT_NE(log.find("Deleting the Vela printer: lab1."), std::string::npos) << log;
  EXPECT_NE(log.find("Deleting the Vela printer: lab2."), std::string::npos) << log;
  // The real lpadmin takes "-xlab1" at the first attempt: no retries.
  EXPECT_EQ(countOf(log, "Executing command:"), 2u) << log;
  EXPECT_NE(removal.err.find("Vela 4.0-0 has been un-installed from the system.\n"), std::string::npos) << removal.err;

  EXPECT_EQ(cups.queues(), std::vector<std::string>{"other"});
  EXPECT_FALSE(host.exists(queuePpdPath("lab1")));
  EXPECT_EQ(host.readFile(queuePpdPath("other")), foreignPpdBefore_);
  for (const char* gone :
       {"/opt/tam/velaInfo4.0", "/opt/tam/bin", "/opt/tam/ppd", "/opt/tam/etc", "/usr/bin/korgsfilter"}) {
    EXPECT_FALSE(host.exists(gone)) << gone;
  }
}

}  // namespace
