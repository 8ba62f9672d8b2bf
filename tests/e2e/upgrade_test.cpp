// The installer against the real scheduler: queues made from the product's
// previous PPD generation are upgraded in place, keep the defaults their
// administrator chose, still print, survive a second run unchanged, and go
// away with the product on de-installation. No CUPS command is stubbed.
#include <optional>
#include <regex>

#include <nlohmann/json.hpp>

#include "sandbox/preview_check.h"
#include "sandbox/upgrade_scenario.h"

namespace {

const std::vector<std::string> kQueues = {"lab1", "lab2", "other"};
const std::string kForeignPpd = "/etc/cups/ppd/other.ppd";

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
    for (const ScenarioQueue& queue : productQueues()) {
      originals_[queue.name] = host_->readFile(ppdOf(queue.name));
      optionsBefore_[queue.name] = cups_->options(queue.name);
    }
    const std::string before = hostListing(*host_, kNotThePreviews);
    // Asked to query, a preview asks nothing and answers yes (all).
    const RunResult preview = runSetup({"-n", "-q", "1"});
    EXPECT_EQ(preview.status, 0);
    EXPECT_EQ(preview.out.find("Do you want to update printer"), std::string::npos) << preview.out;
    EXPECT_EQ(listingChanges(before, hostListing(*host_, kNotThePreviews)), "");
    const std::string forecast = comparableLog(host_->readFile("/var/log/Vela4.0_PreviewLog"));
    previewReport_ = report("/var/log/Vela4.0_PreviewReport.json");
    firstRun_ = runSetup();
    ASSERT_EQ(firstRun_.status, 0) << firstRun_.err;
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

  static std::string ppdOf(const std::string& queue) { return "/etc/cups/ppd/" + queue + ".ppd"; }
  static std::string backupOf(const std::string& queue) { return "/etc/cups/" + queue + ".ppd.rpmsave"; }

  // Inode, size and modification time to the nanosecond: a file written
  // again, even with the same bytes, shows up here.
  std::string identity(const std::string& path) {
    return host_->run({"/usr/bin/stat", "-c", "%i %s %y", path}).out + host_->readFile(path);
  }

  nlohmann::json report(const char* path = "/var/log/Vela4.0_UpdateReport.json") {
    return nlohmann::json::parse(host_->readFile(path));
  }

  // Outcome of each product queue's own PPD in the report, which must name
  // every listed PPD once and agree with the log and the console summary.
  std::map<std::string, std::string> outcomes(const RunResult& run) {
    const nlohmann::json r = report();
    const std::string log = host_->log();
    std::map<std::string, std::string> byQueue;
    for (const nlohmann::json& q : r.at("queues")) {
      const std::string queue = q.at("queue"), ppd = q.at("ppd");
      EXPECT_NE(log.find("Printer = " + queue + " with PPD=" + ppd + "\n"), std::string::npos) << queue;
      if (q.at("outcome") == "up-to-date") {
        EXPECT_NE(log.find("Printer " + queue + " is up to date."), std::string::npos);
      }
      if (ppd == ppdOf(queue)) byQueue[queue] = q.at("outcome");
    }
    const nlohmann::json& c = r.at("summary");
    const std::string counts = "Queues: " + std::to_string(int(c.at("updated"))) + " updated, " +
                               std::to_string(int(c.at("upToDate"))) + " up to date, ";
    EXPECT_NE(run.out.find(counts), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Chosen defaults not carried: " + std::to_string(int(c.at("settingsNotCarried"))) + "."),
              std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Report: /var/log/Vela4.0_UpdateReport.json\n"), std::string::npos) << run.out;
    return byQueue;
  }

  std::optional<SandboxHost> host_;
  std::optional<RealCups> cups_;
  std::string foreignBefore_;
  std::map<std::string, std::string> originals_;
  std::map<std::string, QueueOptions> optionsBefore_;
  RunResult firstRun_;
  nlohmann::json previewReport_;
};

const std::map<std::string, std::string> kAll(const std::string& outcome) {
  return {{"lab1", outcome}, {"lab2", outcome}};
}

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
    for (const auto& [name, value] : expectedAfterUpgrade().at(queue.name)) {
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

TEST_F(UpgradeWithRealCups, RerunsKeepEveryBackupAndRestoreSwapsBackAndForth) {
  EXPECT_EQ(outcomes(firstRun_), kAll("updated"));
  const nlohmann::json first = report();
  // The preview before it foretold every queue's outcome and every setting's fate.
  const auto fates = [](const nlohmann::json& r) {
    std::vector<std::string> all;
    for (const nlohmann::json& q : r.at("queues")) {
      all.push_back(q.at("ppd").get<std::string>() + " " + q.at("outcome").get<std::string>());
      for (const nlohmann::json& set : q.at("settings")) all.push_back(set.dump());
    }
    return all;
  };
  EXPECT_TRUE(previewReport_.at("preview"));
  EXPECT_EQ(fates(previewReport_), fates(first));
  EXPECT_EQ(first.at("run"), "install");
  EXPECT_TRUE(first.at("completed") && first.at("changed") && !first.at("preview"));
  for (const nlohmann::json& q : first.at("queues")) EXPECT_FALSE(q.at("settings").empty()) << q.dump();

  std::map<std::string, std::string> upgraded, before;
  for (const auto& [queue, original] : originals_) {
    EXPECT_EQ(host_->readFile(backupOf(queue)), original) << queue;
    upgraded[queue] = host_->readFile(ppdOf(queue));
    before[queue] = identity(ppdOf(queue)) + identity(backupOf(queue));
  }
  for (int run = 2; run <= 3; ++run) {
    SCOPED_TRACE(run);
    const RunResult again = runSetup();
    EXPECT_EQ(outcomes(again), kAll("up-to-date"));
    EXPECT_FALSE(report().at("changed"));
    for (const auto& [queue, identityBefore] : before)
      EXPECT_EQ(identity(ppdOf(queue)) + identity(backupOf(queue)), identityBefore) << queue << " written again";
    ASSERT_TRUE(cups_->waitUntilRunning(60));
  }

  // Restore brings back the administrator's PPDs and defaults; a second
  // restore the upgraded ones.
  const std::string listing = hostListing(*host_, kNotThePreviews);
  EXPECT_NE(runSetup({"-n", "-r"}).out.find("Queues: 0 updated, 0 up to date"), std::string::npos);
  EXPECT_EQ(listingChanges(listing, hostListing(*host_, kNotThePreviews)), "");
  const nlohmann::json restorePreview = report("/var/log/Vela4.0_PreviewReport.json");
  for (int round = 0; round < 2; ++round) {
    const RunResult restore = runSetup({"-r"});
    if (round == 0) {
      EXPECT_EQ(fates(restorePreview), fates(report()));
    }
    EXPECT_EQ(outcomes(restore), kAll("restored"));
    EXPECT_EQ(report().at("run"), "restore");
    ASSERT_TRUE(cups_->waitUntilRunning(60));
    for (const auto& [queue, original] : originals_) {
      EXPECT_EQ(host_->readFile(ppdOf(queue)), round == 0 ? original : upgraded[queue]) << queue;
      EXPECT_EQ(host_->readFile(backupOf(queue)), round == 0 ? upgraded[queue] : original) << queue;
      if (round == 0) {
        EXPECT_TRUE(cups_->options(queue) == optionsBefore_[queue]) << cups_->lpoptions(queue).out;
      }
    }
  }

  // A backup that is missing, a link, a FIFO or no PPD leaves its queue alone.
  const std::vector<std::pair<std::string, std::function<void()>>> refusals = {
      {"no backup", [&] { host_->remove(backupOf("lab1")); }},
      {"not a regular file", [&] { host_->makeSymlink(ppdOf("lab2"), backupOf("lab1")); }},
      {"not a regular file", [&] { host_->makeFifo(backupOf("lab1")); }},
      {"not a PPD file", [&] { host_->writeFile(backupOf("lab1"), "just text\n"); }},
  };
  for (const auto& [why, plant] : refusals) {
    SCOPED_TRACE(why);
    host_->remove(backupOf("lab1"));
    plant();
    const std::string lab1 = host_->readFile(ppdOf("lab1"));
    const RunResult restore = runSetup({"-r"});
    EXPECT_EQ(outcomes(restore).at("lab1"), "not-restored");
    const nlohmann::json refused = report();
    for (const nlohmann::json& q : refused.at("queues")) {
      EXPECT_TRUE(q.at("queue") != "lab1" || q.value("reason", "").find(why) != std::string::npos) << q.dump();
    }
    EXPECT_EQ(host_->readFile(ppdOf("lab1")), lab1);
    EXPECT_EQ(host_->readFile(ppdOf("lab2")), host_->readFile(backupOf("lab2")) == originals_["lab2"]
                                                  ? upgraded["lab2"] : originals_["lab2"]);
  }
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
