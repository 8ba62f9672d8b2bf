// The installer against the real scheduler, no CUPS command stubbed, on this machine and on a root of each
// Debian release the archive is built for (scripts/release-matrix.sh names them in VELA_RELEASE_ROOTS,
// "suite=/path ...", and VELA_RELEASE_ARCHIVE). Queues of the previous PPD generation with an administrator's
// defaults and one of another maker go through a preview, the upgrade, a re-run, restores, the removal.
#include <cstdlib>
#include <iostream>
#include <optional>
#include <regex>
#include <sstream>

#include <nlohmann/json.hpp>

#include "sandbox/preview_check.h"
#include "sandbox/upgrade_scenario.h"

namespace {

struct UpgradeHost {
  std::string suite;          // a Debian release, or "local" for this machine
  std::string headerVersion;  // what the HTTP probe logs of its CUPS
};

void PrintTo(const UpgradeHost& host, std::ostream* out) { *out << host.suite; }

const UpgradeHost kThisMachine[] = {{"local", "2400"}};
const UpgradeHost kReleases[] = {{"bullseye", "2300"}, {"bookworm", "2400"}, {"trixie", "2400"}};

const std::vector<std::string> kQueues = {"lab1", "lab2", "other"};
const std::string kForeignPpd = "/etc/cups/ppd/other.ppd";
// The scheduler's own files (it rewrites them at any time), the preview's log and the archive.
const std::vector<std::string> kNotThePreviews = {"/var/log/Vela4.0_Preview", "/var/spool/cups", "/var/cache/cups",
                                                 "/var/log/cups", "/etc/cups/printers.conf",
                                                 "/etc/cups/subscriptions.conf", "/root/Vela.tar.gz"};

std::string rootOf(const std::string& suite) {
  std::istringstream words(std::getenv("VELA_RELEASE_ROOTS") ? std::getenv("VELA_RELEASE_ROOTS") : "");
  for (std::string word; words >> word;) {
    if (word.starts_with(suite + "=")) return word.substr(suite.size() + 1);
  }
  return "";
}

// What merging old defaults into a new PPD leaves as it was (a PPD never starts with a "*Default" line).
std::string withoutDefaultLines(const std::string& ppd) {
  return std::regex_replace(ppd, std::regex("\n\\*Default[^\n]*"), "");
}

std::string ppdOf(const std::string& queue) { return "/etc/cups/ppd/" + queue + ".ppd"; }
std::string backupOf(const std::string& queue) { return "/etc/cups/" + queue + ".ppd.rpmsave"; }

std::map<std::string, std::string> kAll(const std::string& outcome) { return {{"lab1", outcome}, {"lab2", outcome}}; }

class Upgrade : public ::testing::TestWithParam<UpgradeHost> {
 protected:
  void SetUp() override {
    REQUIRE_REAL_CUPS();
    const bool local = GetParam().suite == "local";
    const std::string root = local ? "/" : rootOf(GetParam().suite);
    const char* archive = std::getenv("VELA_RELEASE_ARCHIVE");
    ASSERT_TRUE(local || !(root.empty() || archive == nullptr))
        << "run by scripts/release-matrix.sh, which names the roots and the archive";
    cups_.emplace(host_.emplace(root));
    if (local) {
      host_->installProduct("/opt/tam");
    } else {
      host_->copyIn(archive, "/root/Vela.tar.gz");
      const RunResult unpacked =
          host_->shell("mkdir -p /opt/tam && tar -xzf /root/Vela.tar.gz -C /opt/tam --no-same-owner");
      ASSERT_EQ(unpacked.status, 0) << unpacked.err;
    }
    ASSERT_EQ(makeScenarioQueues(*host_, *cups_), "");
    foreignBefore_ = host_->readFile(kForeignPpd);
    for (const ScenarioQueue& queue : productQueues()) {
      originals_[queue.name] = host_->readFile(ppdOf(queue.name));
      optionsBefore_[queue.name] = cups_->options(queue.name);
    }
  }

  // Restarted by whichever method the host offers, the scheduler answers again.
  RunResult runSetup(std::vector<std::string> argv = {}, const std::string& answers = "") {
    argv.insert(argv.begin(), "/opt/tam/bin/setup");
    const RunResult run = host_->run(argv, {.stdinText = answers, .timeoutSeconds = 300});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(cups_->waitUntilRunning(60)) << host_->log();
    return run;
  }

  // A preview changes nothing on the host.
  RunResult preview(const std::vector<std::string>& argv) {
    const std::string before = hostListing(*host_, kNotThePreviews);
    const RunResult run = runSetup(argv);
    EXPECT_EQ(listingChanges(before, hostListing(*host_, kNotThePreviews)), "") << "the preview changed the host";
    // Asked to query, a preview asks nothing and answers yes (all).
    EXPECT_EQ(run.out.find("Do you want to update printer"), std::string::npos) << run.out;
    return run;
  }

  // A product queue's PPD and backup with inode and time (a file written again shows), the other maker's PPD
  // and every queue's defaults.
  std::string identities() {
    std::string all = host_->readFile(kForeignPpd);
    for (const ScenarioQueue& queue : productQueues()) {
      for (const std::string& path : {ppdOf(queue.name), backupOf(queue.name)})
        all += path + " " + host_->run({"/usr/bin/stat", "-c", "%i %s %y", path}).out + host_->readFile(path);
    }
    for (const std::string& queue : kQueues) all += cups_->lpoptions(queue).out;
    return all;
  }

  nlohmann::json report(const char* path = "/var/log/Vela4.0_UpdateReport.json") {
    return nlohmann::json::parse(host_->readFile(path));
  }

  // Outcome of each product queue's own PPD in the report, which must agree with the log and the console.
  std::map<std::string, std::string> outcomes(const RunResult& run) {
    const nlohmann::json r = report();
    const std::string log = host_->log();
    std::map<std::string, std::string> byQueue;
    for (const nlohmann::json& q : r.at("queues")) {
      const std::string queue = q.at("queue"), ppd = q.at("ppd"), outcome = q.at("outcome");
      EXPECT_NE(log.find("Printer = " + queue + " with PPD=" + ppd + "\n"), std::string::npos) << queue;
      EXPECT_TRUE(outcome != "up-to-date" || log.find("Printer " + queue + " is up to date.") != std::string::npos);
      if (ppd == ppdOf(queue)) byQueue[queue] = outcome;
    }
    const auto count = [&](const char* what) { return std::to_string(int(r.at("summary").at(what))); };
    for (const std::string& line : {"Queues: " + count("updated") + " updated, " + count("upToDate") + " up to date, ",
                                    "Chosen defaults not carried: " + count("settingsNotCarried") + ".",
                                    std::string("Report: /var/log/Vela4.0_UpdateReport.json\n")})
      EXPECT_NE(run.out.find(line), std::string::npos) << run.out;
    return byQueue;
  }

  void expectUpgradeKeepsTheDefaultsAndStillPrints() {
    preview({"-n", "-q", "1"});
    const nlohmann::json foretold = report("/var/log/Vela4.0_PreviewReport.json");
    const std::string forecast = comparableLog(host_->readFile("/var/log/Vela4.0_PreviewLog"));
    const RunResult upgrade = runSetup();
    const std::string log = host_->log();
    EXPECT_EQ(queuePart(forecast), queuePart(comparableLog(log)));
    for (const std::string& line : std::vector<std::string>{
             "System Scheduler = CUPS\n", "CUPS base dir: /\n", "CUPS binary dir: /usr\n", "New installation\n",
             "CUPS Header Version : " + GetParam().headerVersion + "//HTTP\n", "CUPS reset returned with: 0\n"})
      EXPECT_NE(log.find(line), std::string::npos) << "missing \"" << line << "\" in the log:\n" << log;
    EXPECT_EQ(cups_->queues(), kQueues);
    EXPECT_EQ(outcomes(upgrade), kAll("updated"));
    const nlohmann::json done = report();
    EXPECT_EQ(foretold.at("queues"), done.at("queues"));
    EXPECT_EQ(done.at("run"), "install");
    EXPECT_TRUE(foretold.at("preview") && done.at("completed") && done.at("changed") && !done.at("preview"));
    for (const nlohmann::json& q : done.at("queues")) EXPECT_FALSE(q.at("settings").empty()) << q.dump();
    // lab2 hands PostScript to its device, lab1 through foomatic-rip and the product's filter, in PJL.
    host_->writeFile("/root/page.txt", "A test page after the Vela upgrade.\n");
    for (const ScenarioQueue& queue : productQueues()) {
      SCOPED_TRACE(queue.name);
      const std::string newPpd = "/opt/tam/ppd/" + queue.ppdSource.substr(queue.ppdSource.rfind('/') + 1) + ".gz";
      EXPECT_EQ(withoutDefaultLines(host_->readFile(ppdOf(queue.name))),
                withoutDefaultLines(host_->run({"/bin/gzip", "-dc", newPpd}).out))
          << "the queue's PPD is not the new one";
      const QueueOptions options = cups_->options(queue.name);
      for (const auto& [name, value] : expectedAfterUpgrade().at(queue.name))
        EXPECT_TRUE(options.contains(name) && options.at(name).defaultChoice == value)
            << name << " is not " << value << " in\n" << cups_->lpoptions(queue.name).out;
      const RunResult job = cups_->print(queue.name, "/root/page.txt");
      ASSERT_EQ(job.status, 0) << job.err;
      ASSERT_TRUE(cups_->waitForJobsDone(queue.name, 60));
      const std::string output = std::string(RealCups::kOutputDir) + "/" + queue.name;
      ASSERT_TRUE(host_->exists(output)) << "the job never reached the file device";
      EXPECT_NE(host_->readFile(output).find("%!PS"), std::string::npos);
    }
    // The summary of each host's upgrade, for the record of the run.
    std::cout << GetParam().suite << ": " << upgrade.out.substr(upgrade.out.find("Queues:")) << std::flush;
  }

  // A second run, an upgrade over the current generation, writes no queue's files again nor changes defaults.
  void expectRerunChangesNothing() {
    const std::string before = identities();
    EXPECT_EQ(outcomes(runSetup()), kAll("up-to-date"));
    EXPECT_NE(host_->log().find("Upgrade Mode = 2.\n"), std::string::npos) << host_->log();
    EXPECT_FALSE(report().at("changed"));
    EXPECT_EQ(identities(), before) << "a re-run wrote a queue's files again or changed defaults";
  }

  // Restore brings back the administrator's PPDs and defaults (so the backups were theirs), a second the upgraded.
  void expectRestoresSwapBackAndForth() {
    for (const ScenarioQueue& queue : productQueues()) upgraded_[queue.name] = host_->readFile(ppdOf(queue.name));
    EXPECT_NE(preview({"-n", "-r"}).out.find("Queues: 0 updated, 0 up to date"), std::string::npos);
    const nlohmann::json foretold = report("/var/log/Vela4.0_PreviewReport.json");
    for (int round = 0; round < 2; ++round) {
      SCOPED_TRACE(round == 0 ? "restore" : "second restore");
      EXPECT_EQ(outcomes(runSetup({"-r"})), kAll("restored"));
      EXPECT_EQ(report().at("run"), "restore");
      if (round == 0) {
        EXPECT_EQ(foretold.at("queues"), report().at("queues"));
      }
      for (const auto& [queue, original] : originals_) {
        EXPECT_EQ(host_->readFile(ppdOf(queue)), round == 0 ? original : upgraded_[queue]) << queue;
        EXPECT_EQ(host_->readFile(backupOf(queue)), round == 0 ? upgraded_[queue] : original) << queue;
        EXPECT_TRUE(round == 1 || cups_->options(queue) == optionsBefore_[queue]) << cups_->lpoptions(queue).out;
      }
    }
  }

  // A backup that is missing, a link, a FIFO or no PPD leaves its queue alone.
  void expectUnfitBackupsAreNotRestored() {
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
      EXPECT_EQ(outcomes(runSetup({"-r"})).at("lab1"), "not-restored");
      const nlohmann::json done = report();
      for (const nlohmann::json& q : done.at("queues"))
        EXPECT_TRUE(q.at("queue") != "lab1" || q.value("reason", "").find(why) != std::string::npos) << q.dump();
      EXPECT_EQ(host_->readFile(ppdOf("lab1")), lab1);
      EXPECT_EQ(host_->readFile(ppdOf("lab2")), host_->readFile(backupOf("lab2")) == originals_["lab2"]
                                                    ? upgraded_["lab2"] : originals_["lab2"]);
    }
  }

  void expectRemovalLeavesOnlyTheOtherQueue() {
    // The queues of an earlier installation stand after "Default" in the information file.
    const std::string info = "/opt/tam/velaInfo4.0";
    std::string text = host_->readFile(info);
    host_->writeFile(info, text.insert(text.find("%%KORBLOCK_PRINTERS_END\n"), "lab1\nlab2\n"), host_->mode(info));
    runSetup({"-d"}, "yes\n");
    // The real lpadmin takes "-xlab1" and "-xlab2" at the first attempt: no retries.
    const std::string log = host_->log();
    const std::regex executing("Executing command:");
    EXPECT_EQ(std::distance(std::sregex_iterator(log.begin(), log.end(), executing), std::sregex_iterator()), 2) << log;
    EXPECT_EQ(cups_->queues(), std::vector<std::string>{"other"});
    EXPECT_EQ(host_->readFile(kForeignPpd), foreignBefore_) << "the other maker's PPD was touched";
    for (const char* gone : {"/etc/cups/ppd/lab1.ppd", "/opt/tam/velaInfo4.0", "/opt/tam/bin", "/opt/tam/ppd",
                             "/opt/tam/etc", "/usr/bin/korgsfilter"})
      EXPECT_FALSE(host_->exists(gone)) << gone;
  }

  std::optional<SandboxHost> host_;
  std::optional<RealCups> cups_;
  std::string foreignBefore_;
  std::map<std::string, std::string> originals_, upgraded_;
  std::map<std::string, QueueOptions> optionsBefore_;
};

TEST_P(Upgrade, PreviewUpgradeRerunRestoreAndRemoval) {
  ASSERT_NO_FATAL_FAILURE(expectUpgradeKeepsTheDefaultsAndStillPrints());
  ASSERT_NO_FATAL_FAILURE(expectRerunChangesNothing());
  ASSERT_NO_FATAL_FAILURE(expectRestoresSwapBackAndForth());
  ASSERT_NO_FATAL_FAILURE(expectUnfitBackupsAreNotRestored());
  ASSERT_NO_FATAL_FAILURE(expectRemovalLeavesOnlyTheOtherQueue());
}

const auto kSuiteName = [](const ::testing::TestParamInfo<UpgradeHost>& host) { return host.param.suite; };
INSTANTIATE_TEST_SUITE_P(ThisMachine, Upgrade, ::testing::ValuesIn(kThisMachine), kSuiteName);
INSTANTIATE_TEST_SUITE_P(Debian, Upgrade, ::testing::ValuesIn(kReleases), kSuiteName);

}  // namespace
