// Print system detection on sandbox hosts: the environment, the process
// probes with their grep lines, the LPRng check, and odd process lists.
#include <gtest/gtest.h>

#include <string>

#include "discovery_host.h"

namespace {

void installLpd(SandboxHost& host, const char* versionText) {
  host.installStub("/usr/sbin/lpd", 0, "", std::string("echo '") + versionText + "' >&2");
}

bool tempFilesLeft(const SandboxHost& host) {
  for (const std::string& name : host.listDir("/tmp")) {
    if (name.rfind("KOR", 0) == 0) return true;
  }
  return false;
}

}  // namespace

TEST(PrintSystemHost, ProcessesAndLpdDecide) {
  REQUIRE_SANDBOX();
  const struct {
    const char* name;
    const char* process;      // nullptr: none
    const char* lpdVersion;   // nullptr: no lpd program
    std::vector<std::string> env;
    const char* scheduler;
    const char* binDir;
  } cases[] = {
      {"environment names CUPS", "/usr/sbin/cupsd -l", nullptr, {"KORLPMODE=CUPS"}, "CUPS", ""},
      {"lower-case name falls to the probes", "/usr/sbin/cupsd -l", nullptr, {"KORLPMODE=cups", "VELALPMODE=CUPS"}, "CUPS", "/usr"},
      {"VELALPMODE alone", nullptr, nullptr, {"VELALPMODE=LPRNG"}, "LPRNG", ""},
      {"System V spooler", "/usr/lib/lp/lpsched", nullptr, {}, "LP", ""},
      {"lpd with LPRng", "/usr/sbin/lpd -F", "lpd (LPRng) 3.8.28", {}, "LPRNG", ""},
      {"BSD lpd", "/usr/sbin/lpd -F", "lpd: illegal option -- V", {}, "LPR", ""},
      {"LPRng without a running lpd", nullptr, "LPRng-3.8.28", {}, "LPRNG", ""},
      {"nothing but the probe's own grep", nullptr, nullptr, {}, "Unknown", ""},
      {"a scheduler line of 300 characters", nullptr, nullptr, {}, "CUPS", "/usr"},
      {"cupsd only past the first 255 characters", nullptr, nullptr, {}, "CUPS", "/usr"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SandboxHost host;
    prepareDiscoveryHost(host);
    host.remove("/usr/sbin/lpd");
    if (c.lpdVersion) installLpd(host, c.lpdVersion);
    if (c.process) startProcessShownAs(host, c.process);
    const std::string name = c.name;
    if (name == "a scheduler line of 300 characters") {
      startProcessShownAs(host, "/usr/sbin/cupsd -l " + std::string(300, 'x'));
    } else if (name == "cupsd only past the first 255 characters") {
      startProcessShownAs(host, "/usr/bin/editor " + std::string(300, 'x') + " cupsd");
    }
    const RunResult run = runDiscovery(host, c.env);
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string log = host.log();
    EXPECT_TRUE(hasLine(log, std::string("System Scheduler = ") + c.scheduler)) << log;
    if (std::string(c.scheduler) == "CUPS") {
      EXPECT_TRUE(hasLine(log, std::string("CUPS binary dir: ") + c.binDir)) << log;
    }
    EXPECT_FALSE(tempFilesLeft(host));
  }
}
