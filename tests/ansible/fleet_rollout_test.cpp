// The roll-out playbook over SSH from a controller to five sandbox print servers in the waves [1, 3]:
// ps1, the canary, with queues of the previous generation; ps2, upgraded by hand from the same archive;
// ps3, unfit (no foomatic-rip); ps4, a CUPS host without the product; ps5 in the third wave. Checked
// from the play recap, the fleet summary and what each host itself changed.
#include <gtest/gtest.h>

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

// The play recap, a host a word: ok, changed (changed=1) or failed (failed=1), else its counts.
std::string recapOf(const std::string& out) {
  const std::map<std::string, std::string> words = {
      {"changed=0 failed=0", "ok"}, {"changed=1 failed=0", "changed"}, {"changed=0 failed=1", "failed"}};
  std::string hosts;
  const std::regex line(R"((ps\d)\s+: ok=\d+\s+(changed=\d+)\s+unreachable=\d+\s+(failed=\d+))");
  for (std::sregex_iterator it(out.begin(), out.end(), line), end; it != end; ++it) {
    const std::string counts = (*it)[2].str() + " " + (*it)[3].str();
    hosts += (hosts.empty() ? "" : ", ") + (*it)[1].str() + " " + (words.contains(counts) ? words.at(counts) : counts);
  }
  return hosts;
}

// A line per host of the JSON summary: wave, outcome, the counts not 0 (a queue's CUPS copy may add one), reason.
std::string summaryRows(Fleet& fleet, const std::string& prefix) {
  return fleet.controller()
      .run({"/usr/bin/python3", "-c",
            "import json, sys\nfor r in json.load(open(sys.argv[1]))['hosts']:\n"
            "  counts = [k for k in ('updated', 'upToDate', 'kept', 'noNewPPD', 'restored', 'removed') if r[k]]\n"
            "  print(r['host'], json.dumps(r['wave']), r['outcome'], ','.join(counts) or '-', r['reason'])",
            std::string(kLogs) + "/" + prefix + ".json"})
      .out;
}

// What a host changed since the last call to the product and CUPS, and to setup's files where none may run.
std::string changes(SandboxHost& host, bool setupMayRun = false) {
  std::vector<std::string> paths = {"/opt/tam", "/etc/cups", "/usr/bin/korgsfilter"};
  if (!setupMayRun)
    paths.insert(paths.end(), {"/var/tmp", "/tmp", "/var/log/Vela4.0_UpdateLog", "/var/log/Vela4.0_UpdateReport.json"});
  std::string now;
  for (const std::string& path : paths) {
    std::istringstream lines(host.changedEntries(path));
    for (std::string line; std::getline(lines, line);)
      if (!has(line, "/printers.conf") && !has(line, "/subscriptions.conf") &&
          !(setupMayRun && has(line, "/opt/tam/etc/UNINSTALLVELA")))
        now += line + "\n";
  }
  const std::string before = host.exists("/root/record") ? host.readFile("/root/record") : now;
  host.writeFile("/root/record", now);
  return listingChanges(before, now);
}

// The text summary ends with the tally and is printed once, each line a JSON string of the output.
void expectSummaryPrinted(Fleet& fleet, const std::string& out, const std::string& tally) {
  EXPECT_EQ(countOf(out, "\"Vela 4.0-5 fleet summary: "), 1u) << out;
  const std::string text = fleet.controller().readFile(std::string(kLogs) + "/fleet-summary.txt");
  EXPECT_TRUE(text.ends_with("\n" + tally + "\n")) << text;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const std::string printed = std::regex_replace(line, std::regex("\""), "\\\"");
    EXPECT_TRUE(has(out, "\"" + printed + "\"")) << printed << "\n" << out;
  }
}

const std::string kUnfit = "setup did not complete: no foomatic-rip program";
const std::string kStopped = "wave 2 stopped the roll-out: ps3 failed";

// The summary rows of the roll-out and its preview, which change as told and leave ps2 as told.
std::string rolloutRows(const std::string& change, const std::string& noChange) {
  return "ps1 1 " + change + " updated \nps2 2 " + noChange + " upToDate \nps3 2 failed - " + kUnfit + "\nps4 2 " +
         change + " - \nps5 3 not reached - " + kStopped + "\n";
}

TEST(Fleet, RollOutInWavesStopsAfterTheFailedWaveSummarisesEveryHostAndRestoresOneWave) {
  REQUIRE_REAL_CUPS();
  if (const std::string missing = Fleet::unavailableReason(); !missing.empty()) {
    if (SandboxHost::onCi()) FAIL() << missing;
    GTEST_SKIP() << missing;
  }
  Fleet fleet(kHosts);
  std::vector<std::unique_ptr<RealCups>> cups;
  for (const std::string& name : kHosts) cups.push_back(std::make_unique<RealCups>(fleet.host(name)));
  SandboxHost &canary = fleet.host("ps1"), &settled = fleet.host("ps2"), &unfit = fleet.host("ps3");
  ASSERT_EQ(prepareUpgradeHost(canary, *cups[0]), "");
  settled.copyIn(VELA_ARCHIVE, "/root/vela.tar.gz");
  settled.shell("mkdir -p /opt/tam && tar -xzf /root/vela.tar.gz -C /opt/tam");
  ASSERT_EQ(makeScenarioQueues(settled, *cups[1]), "");
  ASSERT_EQ(settled.run({"/opt/tam/bin/setup"}).status, 0);
  unfit.shell("rm -f /usr/lib/cups/filter/foomatic-rip /usr/bin/foomatic-rip");
  // ps9's address is on no link: the controller has no route to it.
  fleet.stageRollOut("[elsewhere]\nps9 ansible_host=198.18.0.254\n");
  const std::string lab1 = canary.readFile("/etc/cups/ppd/lab1.ppd"), lab2 = canary.readFile("/etc/cups/ppd/lab2.ppd");

  // The preview (the waves as a text) changes no byte of the product, CUPS or setup's log and report on any host.
  for (const std::string& name : kHosts) changes(fleet.host(name));
  RunResult run = fleet.rollOut("--check -e vela_waves=1,3");
  EXPECT_TRUE(has(run.out, "Vela 4.0-5 setup preview: nothing was changed")) << run.out;
  for (const std::string& name : kHosts) EXPECT_EQ(changes(fleet.host(name)), "") << name;
  EXPECT_EQ(recapOf(run.out), "ps1 changed, ps2 ok, ps3 failed, ps4 changed, ps5 ok") << run.out;
  EXPECT_EQ(summaryRows(fleet, "fleet-preview"), rolloutRows("would change", "no change"));

  // The roll-out upgrades ps1, installs ps4, fails ps3 and stops: ps2 and ps5 are left as they were, yet have rows.
  changes(settled, true);
  run = fleet.rollOut("-e vela_waves=[1,3]");
  EXPECT_EQ(run.status, 2) << run.out << run.err;
  EXPECT_EQ(recapOf(run.out), "ps1 changed, ps2 ok, ps3 failed, ps4 changed, ps5 ok") << run.out;
  EXPECT_TRUE(has(run.out, "fatal: [ps3]: FAILED! => {\"changed\": false, \"msg\": \"" + kUnfit + "\"}")) << run.out;
  EXPECT_TRUE(has(run.out, kStopped + "; the later waves are not reached")) << run.out;
  EXPECT_EQ(summaryRows(fleet, "fleet-summary"), rolloutRows("changed", "unchanged"));
  expectSummaryPrinted(fleet, run.out, "5 hosts: 2 changed, 1 unchanged, 1 failed, 1 not reached");
  EXPECT_EQ(changes(fleet.host("ps5")), "");
  EXPECT_EQ(changes(settled, true), "");
  EXPECT_NE(canary.readFile("/etc/cups/ppd/lab1.ppd"), lab1);
  EXPECT_TRUE(has(fleet.controller().readFile(std::string(kLogs) + "/ps1_Vela4.0_UpdateLog"), "Finishing Vela 4.0-0"));

  // The restore gives the canary its PPDs back; waves that may have one failed host go on after ps3's
  // stale report and stop after two failures (a report that is not JSON, no way to the host).
  unfit.writeFile("/opt/tam/bin/setup", "#!/bin/sh\n", 0755);
  fleet.host("ps4").writeFile("/opt/tam/bin/setup", "#!/bin/sh\necho '{' >/var/log/Vela4.0_UpdateReport.json\n", 0755);
  run = fleet.rollOut("-e vela_restore=true -e vela_hosts=ps3:ps1:ps4:ps9 -e '{\"vela_waves\": [1, 1, 2]}' "
                      "-e vela_max_failed=1");
  EXPECT_EQ(recapOf(run.out), "ps1 changed, ps3 failed, ps4 failed, ps9 failed") << run.out;
  expectInOrder(summaryRows(fleet, "fleet-summary"),
                {"ps3 1 failed - the report is stale (started ", "\nps1 2 changed restored \n",
                 "ps4 3 failed - the report is not JSON", "ps9 3 failed - unreachable: "});
  EXPECT_TRUE(has(run.out, "wave 3 stopped the roll-out: ps4, ps9 failed; the later waves are not reached")) << run.out;
  expectSummaryPrinted(fleet, run.out, "4 hosts: 1 changed, 0 unchanged, 3 failed");
  EXPECT_EQ(canary.readFile("/etc/cups/ppd/lab1.ppd"), lab1);
  EXPECT_EQ(canary.readFile("/etc/cups/ppd/lab2.ppd"), lab2);
  EXPECT_EQ(changes(settled, true), "");

  // The de-installation, answered, removes the canary's product.
  run = fleet.rollOut("-e vela_deinstall=true --limit ps1");
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(recapOf(run.out), "ps1 changed") << run.out;
  EXPECT_TRUE(has(summaryRows(fleet, "fleet-summary"), "ps1 1 changed ")) << run.out;
  EXPECT_FALSE(canary.exists("/opt/tam/bin/setup"));
}

}  // namespace
