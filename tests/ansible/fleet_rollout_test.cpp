// The roll-out playbook as a site runs it: ansible-playbook on a controller
// reaching five sandbox print servers over SSH in the waves [1, 3]. ps1, the
// canary, has product queues of the previous generation; in the second wave
// ps2 was upgraded by hand from the same archive (nothing left to change),
// ps3 is unfit (no foomatic-rip) and ps4 is a CUPS host without the product;
// ps5 is the third wave, which the failed second wave keeps from being
// reached. Checked from the play recap, the fleet summary and what each host
// itself changed.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <map>
#include <regex>
#include <sstream>

#include "sandbox/fleet.h"
#include "sandbox/preview_check.h"
#include "sandbox/upgrade_scenario.h"
#include "text_checks.h"

namespace {

constexpr const char* kLogs = Fleet::kLogs;
const std::vector<std::string> kHosts = {"ps1", "ps2", "ps3", "ps4", "ps5"};

// Each host's "changed=N failed=N" from the play recap.
std::map<std::string, std::string> recapOf(const std::string& out) {
  std::map<std::string, std::string> counts;
  const std::regex line(R"((ps\d)\s+: ok=\d+\s+(changed=\d+)\s+unreachable=\d+\s+(failed=\d+))");
  for (std::sregex_iterator it(out.begin(), out.end(), line), end; it != end; ++it)
    counts[(*it)[1]] = (*it)[2].str() + " " + (*it)[3].str();
  return counts;
}

// The recap of the hosts given: failed=1 for the failed ones, changed=1 for the changed ones.
std::map<std::string, std::string> recap(const std::vector<std::string>& hosts, const std::vector<std::string>& changed,
                                         const std::vector<std::string>& failed = {}) {
  std::map<std::string, std::string> counts;
  for (const std::string& host : hosts) counts[host] = "changed=0 failed=0";
  for (const std::string& host : changed) counts[host] = "changed=1 failed=0";
  for (const std::string& host : failed) counts[host] = "changed=0 failed=1";
  return counts;
}

// The playbook with the given extra options, timed on standard error.
RunResult playbook(Fleet& fleet, const std::string& options) {
  const auto start = std::chrono::steady_clock::now();
  RunResult run = fleet.rollOut(options);
  std::cerr << "ansible-playbook " << options << ": "
            << std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() << " s\n";
  return run;
}

// One line per host of the written JSON summary: host, wave, outcome, the
// queue counts that are not 0 (counted loosely: a queue's CUPS copy may
// count with it or not), the reason.
std::string summaryRows(Fleet& fleet, const std::string& prefix) {
  return fleet.controller()
      .run({"/usr/bin/python3", "-c",
            "import json, sys\nfor r in json.load(open(sys.argv[1]))['hosts']:\n"
            "  counts = [k for k in ('updated', 'upToDate', 'kept', 'noNewPPD', 'restored', 'removed') if r[k]]\n"
            "  print(r['host'], json.dumps(r['wave']), r['outcome'], ','.join(counts) or '-', r['reason'])",
            std::string(kLogs) + "/" + prefix + ".json"})
      .out;
}

// What a host itself has changed below the given paths (not the files the
// scheduler itself rewrites, nor those left out), as it differs from the
// host's record of the same name before.
std::string changesBelow(SandboxHost& host, const std::string& record, const std::vector<std::string>& paths,
                         const std::vector<std::string>& leftOut = {}) {
  std::string now;
  for (const std::string& path : paths) {
    std::istringstream lines(host.changedEntries(path));
    for (std::string line; std::getline(lines, line);) {
      const bool left = std::any_of(leftOut.begin(), leftOut.end(), [&](const std::string& out) { return has(line, out); });
      if (!left && !has(line, "/printers.conf") && !has(line, "/subscriptions.conf")) now += line + "\n";
    }
  }
  const std::string before = host.exists(record) ? host.readFile(record) : now;
  host.writeFile(record, now);
  return listingChanges(before, now);
}

// The product, CUPS and the last run's log and report.
std::string fingerprintChanges(SandboxHost& host) {
  return changesBelow(host, "/root/fingerprint",
                      {"/opt/tam", "/etc/cups", "/var/tmp", "/tmp", "/usr/bin/korgsfilter", "/var/log/Vela4.0_UpdateLog",
                       "/var/log/Vela4.0_UpdateReport.json"});
}

// The product and CUPS: what a run that changes nothing leaves alone, but
// for the de-installation script, which every run writes with its date.
std::string productChanges(SandboxHost& host) {
  return changesBelow(host, "/root/product-fingerprint", {"/opt/tam", "/etc/cups", "/usr/bin/korgsfilter"},
                      {"/opt/tam/etc/UNINSTALLVELA"});
}

// The summary is printed once, and each line of the written text summary is
// among the printed lines (JSON strings there, their quotes escaped).
void expectSummaryPrinted(Fleet& fleet, const std::string& out) {
  EXPECT_EQ(countOf(out, "\"Vela 4.0-5 fleet summary: "), 1u) << out;
  std::istringstream lines(fleet.controller().readFile(std::string(kLogs) + "/fleet-summary.txt"));
  for (std::string line; std::getline(lines, line);) {
    const std::string printed = std::regex_replace(line, std::regex("\""), "\\\"");
    EXPECT_TRUE(has(out, "\"" + printed + "\"")) << printed << "\n" << out;
  }
}

const std::string kUnfit = "setup did not complete: no foomatic-rip program";
const std::string kStopped = "wave 2 stopped the roll-out: ps3 failed";

TEST(Fleet, RollOutInWavesStopsAfterTheFailedWaveSummarisesEveryHostAndRestoresOneWave) {
  REQUIRE_REAL_CUPS();
  if (const std::string missing = Fleet::unavailableReason(); !missing.empty()) {
    if (SandboxHost::onCi()) FAIL() << missing;
    GTEST_SKIP() << missing;
  }
  Fleet fleet(kHosts);
  std::vector<std::unique_ptr<RealCups>> cups;
  for (const std::string& name : kHosts) cups.push_back(std::make_unique<RealCups>(fleet.host(name)));
  SandboxHost &canary = fleet.host("ps1"), &settled = fleet.host("ps2"), &unfit = fleet.host("ps3"),
              &bare = fleet.host("ps4"), &last = fleet.host("ps5");
  ASSERT_EQ(prepareUpgradeHost(canary, *cups[0]), "");
  settled.copyIn(VELA_ARCHIVE, "/root/vela.tar.gz");
  ASSERT_EQ(settled.shell("mkdir -p /opt/tam && tar -xzf /root/vela.tar.gz -C /opt/tam").status, 0);
  ASSERT_EQ(makeScenarioQueues(settled, *cups[1]), "");
  const RunResult byHand = settled.run({"/opt/tam/bin/setup"});
  ASSERT_EQ(byHand.status, 0) << byHand.out << byHand.err;
  unfit.shell("rm -f /usr/lib/cups/filter/foomatic-rip /usr/bin/foomatic-rip");
  // ps9's address is on no link: the controller has no route to it.
  fleet.stageRollOut("[elsewhere]\nps9 ansible_host=198.18.0.254\n");
  const std::string lab1 = canary.readFile("/etc/cups/ppd/lab1.ppd"), lab2 = canary.readFile("/etc/cups/ppd/lab2.ppd");

  // The preview, wave by wave (the waves as a text here), changes no byte of
  // the product, CUPS, or the last run's log and report on any host.
  for (const std::string& name : kHosts) fingerprintChanges(fleet.host(name));
  RunResult run = playbook(fleet, "--check -e vela_waves=1,3");
  EXPECT_TRUE(has(run.out, "Vela 4.0-5 setup preview: nothing was changed")) << run.out;
  for (const std::string& name : kHosts) EXPECT_EQ(fingerprintChanges(fleet.host(name)), "") << name;
  EXPECT_EQ(recapOf(run.out), recap(kHosts, {"ps1", "ps4"}, {"ps3"})) << run.out;
  EXPECT_EQ(summaryRows(fleet, "fleet-preview"), "ps1 1 would change updated \nps2 2 no change upToDate \nps3 2 failed - " +
                                                     kUnfit + "\nps4 2 would change - \nps5 3 not reached - " + kStopped + "\n");

  // The roll-out upgrades the canary, installs ps4, leaves ps2's product and
  // CUPS as they were, fails ps3 with its reason and stops: the third wave is
  // not touched, yet has its row in the one summary.
  productChanges(settled);
  run = playbook(fleet, "-e vela_waves=[1,3]");
  EXPECT_EQ(run.status, 2) << run.out << run.err;
  EXPECT_EQ(recapOf(run.out), recap(kHosts, {"ps1", "ps4"}, {"ps3"})) << run.out;
  EXPECT_TRUE(has(run.out, "fatal: [ps3]: FAILED! => {\"changed\": false, \"msg\": \"" + kUnfit + "\"}")) << run.out;
  EXPECT_TRUE(has(run.out, kStopped + "; the later waves are not reached")) << run.out;
  EXPECT_EQ(summaryRows(fleet, "fleet-summary"), "ps1 1 changed updated \nps2 2 unchanged upToDate \nps3 2 failed - " +
                                                     kUnfit + "\nps4 2 changed - \nps5 3 not reached - " + kStopped + "\n");
  EXPECT_TRUE(has(fleet.controller().readFile(std::string(kLogs) + "/fleet-summary.txt"),
                  "5 hosts: 2 changed, 1 unchanged, 1 failed, 1 not reached\n"));
  expectSummaryPrinted(fleet, run.out);
  EXPECT_EQ(fingerprintChanges(last), "");
  EXPECT_EQ(productChanges(settled), "");
  EXPECT_NE(canary.readFile("/etc/cups/ppd/lab1.ppd"), lab1);
  EXPECT_TRUE(bare.exists("/opt/tam/bin/setup"));
  EXPECT_TRUE(has(fleet.controller().readFile(std::string(kLogs) + "/ps1_Vela4.0_UpdateLog"), "Finishing Vela 4.0-0"));

  // The restore of the canary's wave, among waves that may have one failed
  // host: it goes on after a wave that failed as a whole (a report left from
  // the last run) and stops after one with two (a report that is not JSON,
  // no way to the host). The canary's PPDs come back byte for byte; the
  // hosts not named keep their product and CUPS.
  unfit.writeFile("/opt/tam/bin/setup", "#!/bin/sh\n", 0755);
  bare.writeFile("/opt/tam/bin/setup", "#!/bin/sh\necho '{' >/var/log/Vela4.0_UpdateReport.json\n", 0755);
  productChanges(last);
  run = playbook(fleet, "-e vela_restore=true -e vela_hosts=ps3:ps1:ps4:ps9 -e '{\"vela_waves\": [1, 1, 2]}' "
                        "-e vela_max_failed=1");
  EXPECT_EQ(recapOf(run.out), recap({"ps1", "ps3", "ps4", "ps9"}, {"ps1"}, {"ps3", "ps4", "ps9"})) << run.out;
  const std::string rows = summaryRows(fleet, "fleet-summary");
  EXPECT_TRUE(has(rows, "ps3 1 failed - the report is stale (started ") && has(rows, "\nps1 2 changed restored \n") &&
              has(rows, "ps4 3 failed - the report is not JSON") && has(rows, "ps9 3 failed - unreachable: "))
      << rows;
  EXPECT_TRUE(has(run.out, "wave 3 stopped the roll-out: ps4, ps9 failed; the later waves are not reached")) << run.out;
  expectSummaryPrinted(fleet, run.out);
  EXPECT_EQ(canary.readFile("/etc/cups/ppd/lab1.ppd"), lab1);
  EXPECT_EQ(canary.readFile("/etc/cups/ppd/lab2.ppd"), lab2);
  EXPECT_EQ(productChanges(settled), "");
  EXPECT_EQ(productChanges(last), "");

  // The de-installation, answered, removes the canary's product.
  run = playbook(fleet, "-e vela_deinstall=true --limit ps1");
  EXPECT_EQ(recapOf(run.out), recap({"ps1"}, {"ps1"})) << run.out;
  EXPECT_TRUE(has(summaryRows(fleet, "fleet-summary"), "ps1 1 changed ")) << run.out;
  EXPECT_FALSE(canary.exists("/opt/tam/bin/setup"));
}

}  // namespace
