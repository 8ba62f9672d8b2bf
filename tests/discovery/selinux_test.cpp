// SELinux support in an installation run: the policy module loaded with
// semodule, the message when the module is missing, and chcon labelling.
#include <gtest/gtest.h>

#include <string>

#include "discovery_host.h"

namespace {

RunResult installWithSelinux(SandboxHost& host) {
  return host.run({"/opt/tam/bin/setup", "-S", "1"}, {.env = {"KORLPMODE=CUPS"}});
}

}  // namespace

TEST(SelinuxHost, LoadsTheModuleAndLabelsTheFilter) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.installProduct();
  stubRestart(host);
  host.installStub("/usr/sbin/semodule");
  host.installStub("/usr/bin/chcon");
  const RunResult run = installWithSelinux(host);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(host.stubCalls("/usr/sbin/semodule"), std::vector<std::string>{"/usr/sbin/semodule -i /opt/tam/etc/vela.pp"});
  EXPECT_EQ(run.err.find("no file vela.pp"), std::string::npos) << run.err;
  const std::string log = host.log();
  EXPECT_TRUE(hasLine(log, "chcon SELinux for: \"/usr/bin/chcon -u system_u /usr/bin/korgsfilter 2>/dev/null\": result: 0"))
      << log;
}

TEST(SelinuxHost, MissingModuleOrChcon) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.installProduct();
  stubRestart(host);
  host.installStub("/usr/sbin/semodule");
  host.remove("/opt/tam/etc/vela.pp");
  host.remove("/usr/bin/chcon");
  const RunResult run = installWithSelinux(host);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(host.stubCalls("/usr/sbin/semodule").empty());
  EXPECT_NE(run.err.find("SELinux running, but no file vela.pp found."), std::string::npos) << run.err;
  EXPECT_EQ(host.log().find("chcon SELinux for:"), std::string::npos) << host.log();
}
