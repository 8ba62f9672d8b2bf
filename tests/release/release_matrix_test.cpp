// The shipped archive on each Debian release it is built for, with that
// release's own CUPS: sandbox hosts over roots of Debian 11, 12 and 13 (not
// over this machine), the archive unpacked into /opt/tam, queues of the
// product's previous PPD generation with settings chosen through lpadmin -o,
// and then what an administrator does: preview, upgrade, re-run, restore,
// de-installation. scripts/release-matrix.sh makes the roots and the archive
// and names them in VELA_RELEASE_ROOTS ("suite=/path ...") and
// VELA_RELEASE_ARCHIVE.
#include <cstdlib>
#include <iostream>
#include <optional>
#include <sstream>

#include <nlohmann/json.hpp>

#include "sandbox/preview_check.h"
#include "sandbox/upgrade_scenario.h"

namespace {

struct Release {
  std::string suite;
  std::string headerVersionLine;  // what the HTTP probe logs of its CUPS
};

void PrintTo(const Release& release, std::ostream* out) { *out << release.suite; }

const Release kReleases[] = {
    {"bullseye", "CUPS Header Version : 2300//HTTP"},
    {"bookworm", "CUPS Header Version : 2400//HTTP"},
    {"trixie", "CUPS Header Version : 2400//HTTP"},
};

const std::vector<std::string> kNotThePreviews = {"/var/log/Vela4.0_Preview", "/var/spool/cups", "/var/cache/cups",
                                                 "/var/log/cups", "/etc/cups/printers.conf",
                                                 "/etc/cups/subscriptions.conf", "/root/Vela.tar.gz"};

std::string envOr(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? "" : value;
}

std::string rootOf(const std::string& suite) {
  std::istringstream words(envOr("VELA_RELEASE_ROOTS"));
  for (std::string word; words >> word;) {
    if (word.starts_with(suite + "=")) return word.substr(suite.size() + 1);
  }
  return "";
}

class ReleaseMatrix : public ::testing::TestWithParam<Release> {
 protected:
  void SetUp() override {
    REQUIRE_REAL_CUPS();
    const std::string root = rootOf(GetParam().suite), archive = envOr("VELA_RELEASE_ARCHIVE");
    ASSERT_FALSE(root.empty() || archive.empty()) << "run by scripts/release-matrix.sh, which names the roots and the archive";
    host_.emplace(root);
    cups_.emplace(*host_);
    host_->copyIn(archive, "/root/Vela.tar.gz");
    const RunResult unpacked = host_->shell("mkdir -p /opt/tam && tar -xzf /root/Vela.tar.gz -C /opt/tam --no-same-owner");
    ASSERT_EQ(unpacked.status, 0) << unpacked.err;
    ASSERT_EQ(makeScenarioQueues(*host_, *cups_), "");
  }

  RunResult runSetup(std::vector<std::string> argv = {}, const std::string& answers = "") {
    argv.insert(argv.begin(), "/opt/tam/bin/setup");
    const RunResult run = host_->run(argv, {.stdinText = answers, .timeoutSeconds = 300});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(cups_->waitUntilRunning(60)) << host_->log();
    return run;
  }

  nlohmann::json report() { return nlohmann::json::parse(host_->readFile("/var/log/Vela4.0_UpdateReport.json")); }
  static std::string ppdOf(const std::string& queue) { return "/etc/cups/ppd/" + queue + ".ppd"; }
  static std::string backupOf(const std::string& queue) { return "/etc/cups/" + queue + ".ppd.rpmsave"; }

  // The PPD of each product queue and its backup, byte for byte, with inode,
  // size and modification time: a file written again shows up here.
  std::string queueFiles() {
    std::string all;
    for (const ScenarioQueue& queue : productQueues()) {
      for (const std::string& path : {ppdOf(queue.name), backupOf(queue.name)}) {
        all += path + " " + host_->run({"/usr/bin/stat", "-c", "%i %s %y", path}).out;
        if (host_->exists(path)) all += host_->readFile(path);
      }
    }
    return all;
  }

  void rememberTheQueues() {
    for (const ScenarioQueue& queue : productQueues()) {
      originals_[queue.name] = host_->readFile(ppdOf(queue.name));
      optionsBefore_[queue.name] = cups_->options(queue.name);
    }
    foreignPpd_ = host_->readFile("/etc/cups/ppd/other.ppd");
  }

  void expectPreviewChangesNothing() {
    const std::string listing = hostListing(*host_, kNotThePreviews);
    runSetup({"-n"});
    EXPECT_EQ(listingChanges(listing, hostListing(*host_, kNotThePreviews)), "") << "the preview changed the host";
  }

  void expectUpgradeKeepsTheSettings() {
    const RunResult upgrade = runSetup();
    EXPECT_NE(host_->log().find(GetParam().headerVersionLine + "\n"), std::string::npos) << host_->log();
    for (const ScenarioQueue& queue : productQueues()) {
      SCOPED_TRACE(queue.name);
      EXPECT_EQ(host_->readFile(backupOf(queue.name)), originals_[queue.name]) << "no backup";
      const QueueOptions options = cups_->options(queue.name);
      for (const auto& [name, value] : expectedAfterUpgrade().at(queue.name)) {
        EXPECT_TRUE(options.contains(name) && options.at(name).defaultChoice == value)
            << name << " is not " << value << " in\n" << cups_->lpoptions(queue.name).out;
      }
    }
    EXPECT_EQ(host_->readFile("/etc/cups/ppd/other.ppd"), foreignPpd_) << "the other maker's queue was touched";
    // The summary of each release's upgrade, for the record of the run.
    const std::size_t summary = upgrade.out.find("Queues:");
    ASSERT_NE(summary, std::string::npos) << upgrade.out;
    std::cout << GetParam().suite << ": " << upgrade.out.substr(summary) << std::flush;
  }

  void expectRerunChangesNothing() {
    const std::string files = queueFiles();
    std::map<std::string, QueueOptions> upgraded;
    for (const ScenarioQueue& queue : productQueues()) upgraded[queue.name] = cups_->options(queue.name);
    runSetup();
    EXPECT_FALSE(report().at("changed")) << host_->log();
    EXPECT_EQ(queueFiles(), files) << "a re-run wrote a queue's files again";
    for (const auto& [queue, options] : upgraded) EXPECT_TRUE(cups_->options(queue) == options) << queue;
  }

  void expectRestoreBringsBackTheOldPpds() {
    runSetup({"-r"});
    for (const ScenarioQueue& queue : productQueues()) {
      SCOPED_TRACE(queue.name);
      EXPECT_EQ(host_->readFile(ppdOf(queue.name)), originals_[queue.name]);
      EXPECT_TRUE(cups_->options(queue.name) == optionsBefore_[queue.name]) << cups_->lpoptions(queue.name).out;
    }
  }

  void expectRemovalLeavesOnlyTheOtherQueue() {
    // A new installation lists only "Default" in the information file; the
    // queues of an earlier one stand in the same block after it.
    const std::string info = "/opt/tam/velaInfo4.0";
    std::string text = host_->readFile(info);
    const std::size_t end = text.find("%%KORBLOCK_PRINTERS_END\n");
    ASSERT_NE(end, std::string::npos) << text;
    host_->writeFile(info, text.insert(end, "lab1\nlab2\n"), host_->mode(info));
    runSetup({"-d"}, "yes\n");
    EXPECT_EQ(cups_->queues(), std::vector<std::string>{"other"}) << host_->log();
    EXPECT_EQ(host_->readFile("/etc/cups/ppd/other.ppd"), foreignPpd_);
    for (const char* gone : {"/opt/tam/velaInfo4.0", "/opt/tam/bin", "/opt/tam/ppd", "/usr/bin/korgsfilter"})
      EXPECT_FALSE(host_->exists(gone)) << gone;
  }

  std::optional<SandboxHost> host_;
  std::optional<RealCups> cups_;
  std::map<std::string, std::string> originals_;
  std::map<std::string, QueueOptions> optionsBefore_;
  std::string foreignPpd_;
};

TEST_P(ReleaseMatrix, PreviewUpgradeRerunRestoreAndRemoval) {
  ASSERT_NO_FATAL_FAILURE(rememberTheQueues());
  ASSERT_NO_FATAL_FAILURE(expectPreviewChangesNothing());
  ASSERT_NO_FATAL_FAILURE(expectUpgradeKeepsTheSettings());
  ASSERT_NO_FATAL_FAILURE(expectRerunChangesNothing());
  ASSERT_NO_FATAL_FAILURE(expectRestoreBringsBackTheOldPpds());
  ASSERT_NO_FATAL_FAILURE(expectRemovalLeavesOnlyTheOtherQueue());
}

INSTANTIATE_TEST_SUITE_P(Debian, ReleaseMatrix, ::testing::ValuesIn(kReleases),
                         [](const ::testing::TestParamInfo<Release>& release) { return release.param.suite; });

}  // namespace
