// CUPS restart at the end of an installation, on hosts with different
// service managers. Every restart command here is a stub inside the sandbox.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "discovery_host.h"

namespace {

std::vector<std::string> restartLines(const std::string& log) {
  std::vector<std::string> lines;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    if (line.find("CUPS re") == 0 || line.find("Cannot reset CUPS") == 0) lines.push_back(line);
  }
  return lines;
}

}  // namespace

TEST(CupsRestartHost, TriesEachServiceManager) {
  REQUIRE_SANDBOX();
  const std::string systemctlLine = "CUPS restart command:\"/usr/bin/systemctl restart cups.service\"";
  const struct {
    const char* name;
    int systemctl;  // exit code, or -1 for absent
    bool service, initCups, initCupsys;
    std::vector<std::string> log;
    const char* secondCommand;  // the stub expected to run second, with its call line
  } cases[] = {
      {"systemctl succeeds", 0, true, true, true,
       {systemctlLine, "CUPS reset returned with: 0"}, nullptr},
      {"systemctl fails, only cupsys", 1, false, false, true,
       {systemctlLine, "CUPS reset returned with: 256", "CUPS reset returned with: 0"}, "/etc/init.d/cupsys restart"},
      {"systemctl fails, both init scripts", 1, false, true, true,
       {systemctlLine, "CUPS reset returned with: 256", "CUPS reset returned with: 0"}, "/etc/init.d/cups restart"},
      {"service before init scripts", -1, true, true, true,
       {"CUPS reset returned with: -1", "CUPS reset returned with: 0"}, "/usr/sbin/service cups restart"},
      {"systemctl fails, nothing else", 1, false, false, false,
       {systemctlLine, "CUPS reset returned with: 256", "Cannot reset CUPS. Sorry!", "CUPS reset returned with: 256"},
       nullptr},
      {"no way at all", -1, false, false, false,
       {"CUPS reset returned with: -1", "Cannot reset CUPS. Sorry!", "CUPS reset returned with: -1"}, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SandboxHost host;
    host.installProduct();
    stubRestart(host, c.systemctl < 0 ? 0 : c.systemctl);
    if (c.systemctl < 0) host.remove("/usr/bin/systemctl");
    if (c.service) host.installStub("/usr/sbin/service");
    if (c.initCups) host.installStub("/etc/init.d/cups");
    if (c.initCupsys) host.installStub("/etc/init.d/cupsys");
    const RunResult run = host.run({"/opt/tam/bin/setup"}, {.env = {"KORLPMODE=CUPS"}});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string log = host.log();
    EXPECT_EQ(restartLines(log), c.log) << log;

    std::vector<std::string> secondCalls;
    for (const char* path : {"/usr/sbin/service", "/etc/init.d/cups", "/etc/init.d/cupsys"}) {
      for (const std::string& call : host.stubCalls(path)) secondCalls.push_back(call);
    }
    EXPECT_EQ(secondCalls, c.secondCommand ? std::vector<std::string>{c.secondCommand} : std::vector<std::string>{});
    if (c.systemctl >= 0) {
      EXPECT_EQ(host.stubCalls("/usr/bin/systemctl"), std::vector<std::string>{"/usr/bin/systemctl restart cups.service"});
    }
  }
}
