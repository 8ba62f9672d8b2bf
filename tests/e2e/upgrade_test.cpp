// The installer against the real scheduler: queues made from the product's
// previous PPD generation are upgraded in place, keep the defaults their
// administrator chose, still print, survive a second run unchanged, and go
// away with the product on de-installation. No CUPS command is stubbed.
#include <optional>
#include <regex>

#include "sandbox/preview_check.h"
#include "sandbox/upgrade_scenario.h"

namespace {

const std::vector<std::string> kQueues = {"lab1", "lab2", "other"};
const std::string kForeignPpd = "/etc/cups/ppd/other.ppd";

// What lpoptions must show after the upgrade. The administrator's choices
// (the JCL toner saver among them) and the old PPD's untouched defaults are
// carried over; OutputBin is new in this generation and keeps the new PPD's
// default.
const std::map<std::string, std::map<std::string, std::string>> kExpectedAfterUpgrade = {
    {"lab1", {{"PageSize", "A5"}, {"Duplex", "DuplexTumble"}, {"InputSlot", "Tray1"}, {"Resolution", "300dpi"},
              {"OutputBin", "FaceDown"}, {"JCLEconomode", "On"}}},
    {"lab2", {{"PageSize", "Legal"}, {"Duplex", "DuplexNoTumble"}, {"InputSlot", "Manual"},
              {"Resolution", "1200dpi"}, {"OutputBin", "FaceDown"}, {"JCLEconomode", "On"}}},
};

// A PPD text without its "*Default" lines: what merging old defaults into a
// new PPD must leave as it was. A PPD never starts with such a line.
std::string withoutDefaultLines(const std::string& ppd) {
  return std::regex_replace(ppd, std::regex("\n\\*Default[^\n]*"), "");
}

// The scheduler's own files, which it may rewrite at any time, and the
// preview's log.
const std::vector<std::string> kNotThePreviews = {"/var/log/Vela4.0_Preview", "/var/spool/cups", "/var/cache/cups",
                                                 "/var/log/cups", "/etc/cups/printers.conf",
                                                 "/etc/cups/subscriptions.conf"};

// The product is unpacked, the queues are made, a preview has changed
// nothing, and setup has run once with no options as root, as an
// administrator upgrades, doing to each queue what the preview said.
class UpgradeWithRealCups : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_REAL_CUPS();
    host_.emplace();
    cups_.emplace(*host_);
    ASSERT_EQ(prepareUpgradeHost(*host_, *cups_), "");
    foreignBefore_ = host_->readFile(kForeignPpd);
    const std::string before = hostListing(*host_, kNotThePreviews);
    // Asked to query, a preview asks nothing and answers yes (all).
    const RunResult preview = runSetup({"-n", "-q", "1"});
    EXPECT_EQ(preview.status, 0);
    EXPECT_EQ(preview.out.find("Do you want to update printer"), std::string::npos) << preview.out;
    EXPECT_EQ(listingChanges(before, hostListing(*host_, kNotThePreviews)), "");
    const std::string forecast = comparableLog(host_->readFile("/var/log/Vela4.0_PreviewLog"));
    const RunResult run = runSetup();
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(queuePart(forecast), queuePart(comparableLog(host_->log())));
    // Restarted by whichever method the host offers, it answers again.
    ASSERT_TRUE(cups_->waitUntilRunning(60)) << host_->log();
  }

  RunResult runSetup(std::vector<std::string> argv = {}, const std::string& answers = "") {
    argv.insert(argv.begin(), "/opt/tam/bin/setup");
    return host_->run(argv, {.stdinText = answers, .timeoutSeconds = 300});
  }

  std::map<std::string, QueueOptions> allOptions() {
    std::map<std::string, QueueOptions> all;
    for (const std::string& queue : kQueues) all[queue] = cups_->options(queue);
    return all;
  }

  std::optional<SandboxHost> host_;
  std::optional<RealCups> cups_;
  std::string foreignBefore_;
};

TEST_F(UpgradeWithRealCups, QueuesGetTheNewPpdKeepTheirDefaultsAndStillPrint) {
  const std::string log = host_->log();
  for (const char* line : {"System Scheduler = CUPS\n", "CUPS base dir: /\n", "CUPS binary dir: /usr\n",
                           "CUPS Header Version : 2400//HTTP", "New installation\n", "CUPS reset returned with: 0\n"})
    EXPECT_NE(log.find(line), std::string::npos) << "missing \"" << line << "\" in the log:\n" << log;
  EXPECT_EQ(cups_->queues(), kQueues);

  for (const ScenarioQueue& queue : productQueues()) {
    SCOPED_TRACE(queue.name);
    const std::string newPpd = "/opt/tam/ppd/" + queue.ppdSource.substr(queue.ppdSource.rfind('/') + 1) + ".gz";
    EXPECT_EQ(withoutDefaultLines(host_->readFile("/etc/cups/ppd/" + queue.name + ".ppd")),
              withoutDefaultLines(host_->run({"/bin/gzip", "-dc", newPpd}).out))
        << "the queue's PPD is not the new one";
    const QueueOptions options = cups_->options(queue.name);
    for (const auto& [name, value] : kExpectedAfterUpgrade.at(queue.name)) {
      ASSERT_TRUE(options.contains(name)) << name << " missing in\n" << cups_->lpoptions(queue.name).out;
      EXPECT_EQ(options.at(name).defaultChoice, value) << name;
    }
  }
  EXPECT_EQ(host_->readFile(kForeignPpd), foreignBefore_) << "the other maker's PPD was touched";

  // lab2 hands PostScript to its device; lab1's jobs go through foomatic-rip
  // and the product's filter. The PPDs wrap the page in PJL job commands.
  host_->writeFile("/root/page.txt", "A test page after the Vela upgrade.\n");
  for (const std::string queue : {"lab1", "lab2"}) {
    SCOPED_TRACE(queue);
    const RunResult job = cups_->print(queue, "/root/page.txt");
    ASSERT_EQ(job.status, 0) << job.err;
    ASSERT_TRUE(cups_->waitForJobsDone(queue, 60));
    const std::string output = std::string(RealCups::kOutputDir) + "/" + queue;
    ASSERT_TRUE(host_->exists(output)) << "the job never reached the file device";
    EXPECT_NE(host_->readFile(output).find("%!PS"), std::string::npos);
  }

  // A second run is an upgrade over the current generation: it changes no
  // queue's defaults.
  const std::map<std::string, QueueOptions> before = allOptions();
  const RunResult again = runSetup();
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_NE(host_->log().find("Upgrade Mode = 2.\n"), std::string::npos) << host_->log();
  ASSERT_TRUE(cups_->waitUntilRunning(60));
  EXPECT_TRUE(allOptions() == before) << "defaults changed by the second run";
  EXPECT_EQ(host_->readFile(kForeignPpd), foreignBefore_);
}

TEST_F(UpgradeWithRealCups, DeinstallationRemovesTheListedQueuesAndTheProduct) {
  // A new installation lists only "Default"; the queues of an earlier
  // installation stand in the same block after it.
  const std::string info = "/opt/tam/velaInfo4.0";
  std::string text = host_->readFile(info);
  const std::size_t end = text.find("%%KORBLOCK_PRINTERS_END\n");
  ASSERT_NE(end, std::string::npos) << text;
  host_->writeFile(info, text.insert(end, "lab1\nlab2\n"), host_->mode(info));

  const RunResult removal = runSetup({"-d"}, "yes\n");
  ASSERT_EQ(removal.status, 0) << removal.err;
  const std::string log = host_->log();
  for (const char* line : {"Number of Vela printers found: 3.", "Deleting the Vela printer: lab1.",
                           "Deleting the Vela printer: lab2."})
    EXPECT_NE(log.find(line), std::string::npos) << line << " missing in\n" << log;
  // The real lpadmin takes "-xlab1" at the first attempt: no retries.
  const std::regex executing("Executing command:");
  EXPECT_EQ(std::distance(std::sregex_iterator(log.begin(), log.end(), executing), std::sregex_iterator()), 2) << log;
  EXPECT_NE(removal.err.find("Vela 4.0-0 has been un-installed from the system.\n"), std::string::npos) << removal.err;

  EXPECT_EQ(cups_->queues(), std::vector<std::string>{"other"});
  EXPECT_EQ(host_->readFile(kForeignPpd), foreignBefore_);
  for (const char* gone : {"/etc/cups/ppd/lab1.ppd", "/opt/tam/velaInfo4.0", "/opt/tam/bin", "/opt/tam/ppd",
                           "/opt/tam/etc", "/usr/bin/korgsfilter"})
    EXPECT_FALSE(host_->exists(gone)) << gone;
}

}  // namespace
