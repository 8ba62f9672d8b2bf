// A whole de-installation after a whole installation: the product installed
// by setup itself, one queue added to its printers block, then `setup -d`.
#include <string>
#include <vector>

#include "uninstall/deinstall_host.h"

namespace {

// The product items that the sample product does not ship, added to its
// manifest so that the installation lays out every item the removal lists.
void completeTheProduct(SandboxHost& host) {
  host.writeFile("/opt/tam/vela", "#!/bin/sh\n", 0755);
  host.writeFile("/opt/tam/VELAINST.CONF", "# top-level copy\n");
  host.writeFile("/opt/tam/bin/nc", "#!/bin/sh\n", 0755);
  host.writeFile("/opt/tam/Default/velaConfig", "Default\n");
  std::string manifest = host.readFile("/opt/tam/etc/VELAINST.CONF");
  manifest.insert(manifest.find("@@NULL"),
                  "vela . 00755\nVELAINST.CONF . 00644\nbin/nc . 00755\nDefault/velaConfig . 00644\n");
  host.writeFile("/opt/tam/etc/VELAINST.CONF", manifest);
}

}  // namespace

TEST(WholeDeinstall, RemovesWhatTheInstallationLaidOut) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  usePrivateDev(host);
  host.installProduct("/opt/tam");
  completeTheProduct(host);
  host.installStub(kLpadmin, 0);
  host.installStub(kLpstat, 0);
  const RunResult install = host.run({"/opt/tam/bin/setup"}, {.env = {"KORLPMODE=CUPS"}});
  ASSERT_EQ(install.status, 0) << install.err;
  ASSERT_TRUE(host.isSymlink("/usr/bin/korgsfilter")) << host.log();

  std::string info = host.readFile("/opt/tam/velaInfo4.0");
  info.insert(info.find("%%KORBLOCK_PRINTERS_END"), "lab1\n");
  host.writeFile("/opt/tam/velaInfo4.0", info);
  host.writeFile("/opt/tam/lab1/velaConfig", "lab1\n");
  host.writeFile("/opt/tam/lab1.sh", "#!/bin/sh\n", 0755);

  const RunResult result = runDeinstall(host);
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.out.find("Do you want to delete Vela and any possible Vela printer queues?"), std::string::npos);
  EXPECT_NE(result.err.find("Vela 4.0-0 has been un-installed from the system.\n\n"), std::string::npos);
  std::string expected =
      "Number of Vela printers found: 2.\n"
      "Executing command:\n\t/usr/sbin/lpadmin -xlab1 2>/dev/null\n"
      "Deleting the Vela printer: lab1.\n";
  for (const char* item : {"/opt/tam/vela", "/opt/tam/velaInfo4.0", "/opt/tam/bin/korgsfilter", "/usr/bin/korgsfilter",
                           "/opt/tam/etc/UNINSTALLVELA", "/opt/tam/bin/setup", "/opt/tam/etc/vela4.0.png",
                           "/opt/tam/VELAINST.CONF", "/opt/tam/etc/VELAINST.CONF", "/usr/bin/korgsfilter",
                           "/opt/tam/bin/nc"}) {
    const bool again = expected.find(std::string("'") + item + "'") != std::string::npos;
    expected += std::string("Deleting file: '") + item + "' - " + (again ? "Not possible!" : "OK.") + "\n";
  }
  for (const char* dir : {"Default", "ppd", "etc", "bin"}) {
    expected += std::string("Deleting directory: '/opt/tam/") + dir + "' - OK.\n";
  }
  expected += "Vela 4.0-0 has been un-installed from the system.\nFinishing Vela 4.0-0 installation : ";
  EXPECT_NE(host.log().find(expected), std::string::npos) << host.log();
  EXPECT_TRUE(host.exists("/opt/tam"));
  EXPECT_EQ(host.listDir("/opt/tam"), std::vector<std::string>{});
  EXPECT_FALSE(host.exists("/usr/bin/korgsfilter"));
}
