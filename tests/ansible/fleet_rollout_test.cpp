// The roll-out playbook as a site runs it: ansible-playbook on a controller
// reaching five sandbox print servers over SSH in the waves [1, 2, 3]. ps1,
// the canary, and ps2 are healthy CUPS hosts with product queues of the
// previous generation; ps3, in the second wave with ps2, is unfit (no
// foomatic-rip) until it is mended; the third wave's ps4 is a CUPS host
// without the product and ps5 has nothing to change (the product is
// there already and no queue is the product's). Checked from the play recap,
// the fleet summary and what each host itself changed.
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
constexpr const char* kWaves = "-e vela_waves=[1,2,3] ";
const std::vector<std::string> kHosts = {"ps1", "ps2", "ps3", "ps4", "ps5"};
const std::vector<std::string> kThirdWave = {"ps4", "ps5"};

// Each host's "changed=N failed=N" from the play recap.
std::map<std::string, std::string> recapOf(const std::string& out) {
  std::map<std::string, std::string> counts;
  const std::regex line(R"((ps\d)\s+: ok=\d+\s+(changed=\d+)\s+unreachable=\d+\s+(failed=\d+))");
  for (std::sregex_iterator it(out.begin(), out.end(), line), end; it != end; ++it)
    counts[(*it)[1]] = (*it)[2].str() + " " + (*it)[3].str();
  return counts;
}

// The recap of the fleet: failed=1 for the named ones, changed=1 for the others named.
std::map<std::string, std::string> recap(const std::vector<std::string>& changed, const std::vector<std::string>& failed) {
  std::map<std::string, std::string> counts;
  for (const std::string& host : kHosts) counts[host] = "changed=0 failed=0";
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
const std::string kThirdWaveNotReached =
    "ps4 3 not reached - " + kStopped + "\nps5 3 not reached - " + kStopped + "\n";

TEST(Fleet, RollOutInWavesStopsAfterTheFailedWaveSummarisesEveryHostAndRestoresOneWave) {
  REQUIRE_REAL_CUPS();
  if (const std::string missing = Fleet::unavailableReason(); !missing.empty()) {
    if (SandboxHost::onCi()) FAIL() << missing;
    GTEST_SKIP() << missing;
  }
  Fleet fleet(kHosts);
  std::vector<std::unique_ptr<RealCups>> cups;
  for (const std::string& name : kHosts) cups.push_back(std::make_unique<RealCups>(fleet.host(name)));
  SandboxHost &canary = fleet.host("ps1"), &healthy = fleet.host("ps2"), &unfit = fleet.host("ps3"),
              &settled = fleet.host("ps5");
  ASSERT_EQ(prepareUpgradeHost(canary, *cups[0]), "");
  ASSERT_EQ(prepareUpgradeHost(healthy, *cups[1]), "");
  unfit.shell("rm -f /usr/lib/cups/filter/foomatic-rip /usr/bin/foomatic-rip");
  settled.installProduct("/opt/tam");
  settled.run({"/opt/tam/bin/setup"});
  const ScenarioQueue other = foreignQueue();
  settled.copyIn(other.ppdSource, "/root/other.ppd");
  ASSERT_EQ(cups[4]->addQueue(other.name, "/root/other.ppd", other.settings), "");
  SandboxHost& controller = fleet.controller();
  // ps9's address is on no link: the controller has no route to it.
  fleet.stageRollOut("[elsewhere]\nps9 ansible_host=198.18.0.254\n");
  const std::string lab1 = healthy.readFile("/etc/cups/ppd/lab1.ppd"), lab2 = healthy.readFile("/etc/cups/ppd/lab2.ppd");

  // The preview, wave by wave (the waves as a text here), changes no byte of
  // the product, CUPS, or the last run's log and report on any host.
  for (const std::string& name : kHosts) fingerprintChanges(fleet.host(name));
  RunResult run = playbook(fleet, "--check -e vela_waves=1,2,3");
  EXPECT_TRUE(has(run.out, "Vela 4.0-5 setup preview: nothing was changed")) << run.out;
  for (const std::string& name : kHosts) EXPECT_EQ(fingerprintChanges(fleet.host(name)), "") << name;
  EXPECT_EQ(recapOf(run.out), recap({"ps1", "ps2"}, {"ps3"})) << run.out;
  EXPECT_EQ(summaryRows(fleet, "fleet-preview"), "ps1 1 would change updated \nps2 2 would change updated \nps3 2 failed - " +
                                                     kUnfit + "\n" + kThirdWaveNotReached);

  // The roll-out upgrades the canary and ps2, fails ps3 with its reason and
  // stops: the third wave is not touched, yet has its rows in the one summary.
  run = playbook(fleet, kWaves);
  EXPECT_EQ(run.status, 2) << run.out << run.err;
  EXPECT_EQ(recapOf(run.out), recap({"ps1", "ps2"}, {"ps3"})) << run.out;
  EXPECT_TRUE(has(run.out, "fatal: [ps3]: FAILED! => {\"changed\": false, \"msg\": \"" + kUnfit + "\"}")) << run.out;
  EXPECT_TRUE(has(run.out, kStopped + "; the later waves are not reached")) << run.out;
  EXPECT_EQ(summaryRows(fleet, "fleet-summary"),
            "ps1 1 changed updated \nps2 2 changed updated \nps3 2 failed - " + kUnfit + "\n" + kThirdWaveNotReached);
  EXPECT_TRUE(has(controller.readFile(std::string(kLogs) + "/fleet-summary.txt"),
                  "5 hosts: 2 changed, 0 unchanged, 1 failed, 2 not reached\n"));
  expectSummaryPrinted(fleet, run.out);
  for (const std::string& name : kThirdWave) EXPECT_EQ(fingerprintChanges(fleet.host(name)), "") << name;
  EXPECT_NE(canary.readFile("/etc/cups/ppd/lab1.ppd"), lab1);
  EXPECT_NE(healthy.readFile("/etc/cups/ppd/lab1.ppd"), lab1);
  EXPECT_TRUE(has(controller.readFile(std::string(kLogs) + "/ps1_Vela4.0_UpdateLog"), "Finishing Vela 4.0-0"));

  // With ps3 mended, a second roll-out passes every wave; the hosts upgraded
  // before keep their product and CUPS as they were.
  unfit.copyIn("/usr/lib/cups/filter/foomatic-rip", "/usr/lib/cups/filter/foomatic-rip");
  unfit.makeSymlink("../lib/cups/filter/foomatic-rip", "/usr/bin/foomatic-rip");
  productChanges(canary);
  productChanges(healthy);
  run = playbook(fleet, kWaves);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(recapOf(run.out), recap({"ps3", "ps4"}, {})) << run.out;
  EXPECT_EQ(summaryRows(fleet, "fleet-summary"),
            "ps1 1 unchanged upToDate \nps2 2 unchanged upToDate \nps3 2 changed - \nps4 3 changed - \n"
            "ps5 3 unchanged - \n");
  EXPECT_EQ(productChanges(canary), "");
  EXPECT_EQ(productChanges(healthy), "");

  // The second wave alone is restored: ps2's PPDs come back byte for byte,
  // the other waves' hosts keep their product and CUPS.
  for (const std::string& name : kHosts) productChanges(fleet.host(name));
  run = playbook(fleet, std::string(kWaves) + "-e vela_restore=true --limit ps2,ps3");
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(recapOf(run.out), (std::map<std::string, std::string>{{"ps2", "changed=1 failed=0"}, {"ps3", "changed=0 failed=0"}}))
      << run.out;
  EXPECT_EQ(summaryRows(fleet, "fleet-summary"), "ps2 1 changed restored \nps3 2 unchanged - \n");
  EXPECT_EQ(healthy.readFile("/etc/cups/ppd/lab1.ppd"), lab1);
  EXPECT_EQ(healthy.readFile("/etc/cups/ppd/lab2.ppd"), lab2);
  for (const char* name : {"ps1", "ps4", "ps5"}) EXPECT_EQ(productChanges(fleet.host(name)), "") << name;

  // Waves that may have one failed host go on after one (a first wave that
  // failed as a whole too) and stop after a wave with two: a report left
  // from the last run, a report that is not JSON, no way to the host.
  unfit.writeFile("/opt/tam/bin/setup", "#!/bin/sh\n", 0755);
  settled.writeFile("/opt/tam/bin/setup", "#!/bin/sh\necho '{' >/var/log/Vela4.0_UpdateReport.json\n", 0755);
  run = playbook(fleet, "-e vela_restore=true -e vela_hosts=ps3:ps5:ps9 -e '{\"vela_waves\": [1, 2]}' -e vela_max_failed=1");
  EXPECT_EQ(recapOf(run.out), (std::map<std::string, std::string>{
                                  {"ps3", "changed=0 failed=1"}, {"ps5", "changed=0 failed=1"}, {"ps9", "changed=0 failed=1"}}));
  const std::string rows = summaryRows(fleet, "fleet-summary");
  EXPECT_TRUE(has(rows, "ps3 1 failed - the report is stale (started ") &&
              has(rows, "ps5 2 failed - the report is not JSON") && has(rows, "ps9 2 failed - unreachable: "))
      << rows;
  EXPECT_TRUE(has(run.out, "wave 2 stopped the roll-out: ps5, ps9 failed; the later waves are not reached")) << run.out;
  expectSummaryPrinted(fleet, run.out);

  // The de-installation, answered, removes the canary's product.
  run = playbook(fleet, "-e vela_deinstall=true --limit ps1");
  EXPECT_EQ(recapOf(run.out), (std::map<std::string, std::string>{{"ps1", "changed=1 failed=0"}})) << run.out;
  EXPECT_TRUE(has(summaryRows(fleet, "fleet-summary"), "ps1 1 changed ")) << run.out;
  EXPECT_FALSE(canary.exists("/opt/tam/bin/setup"));
}

}  // namespace
