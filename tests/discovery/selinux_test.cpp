// SELinux support in an installation run: the policy module loaded with
// semodule, the message when the module is missing, and chcon labelling.
#include <gtest/gtest.h>

#include <string>

#include "discovery_host.h"

TEST(SelinuxHost, ModuleAndLabels) {
  REQUIRE_SANDBOX();
  for (const bool complete : {true, false}) {
    SCOPED_TRACE(complete ? "module and chcon present" : "module and chcon missing");
    SandboxHost host;
    host.installProduct();
    stubRestart(host);
    host.installStub("/usr/sbin/semodule");
    host.installStub("/usr/bin/chcon");
    if (!complete) {
      host.remove("/opt/tam/etc/vela.pp");
      host.remove("/usr/bin/chcon");
    }
    const RunResult run = host.run({"/opt/tam/bin/setup", "-S", "1"}, {.env = {"KORLPMODE=CUPS"}});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(host.stubCalls("/usr/sbin/semodule"),
              complete ? std::vector<std::string>{"/usr/sbin/semodule -i /opt/tam/etc/vela.pp"} : std::vector<std::string>{});
    EXPECT_EQ(run.err.find("SELinux running, but no file vela.pp found.") != std::string::npos, !complete) << run.err;
    const std::string labelled = "chcon SELinux for: \"/usr/bin/chcon -u system_u /usr/bin/korgsfilter 2>/dev/null\": result: 0";
    EXPECT_EQ(hasLine(host.log(), labelled), complete) << host.log();
  }
}
