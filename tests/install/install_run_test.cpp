// Whole installation runs of the real setup binary in the sandbox host: a
// new installation in place and from elsewhere, upgrades of both
// generations, a host without /opt, failing copies and the labelling.
#include <gtest/gtest.h>

#include "install_support.h"

namespace {

const char* const kProductFiles[][2] = {{"/bin/setup", "0755"},      {"/bin/korgsfilter", "0755"},
                                        {"/etc/VELAINST.CONF", "0644"}, {"/etc/vela.pp", "0644"},
                                        {"/etc/vela4.0.png", "0644"}};

void expectProductInstalled(SandboxHost& host, const std::string& dir) {
  for (const auto& file : kProductFiles) {
    const std::string path = dir + file[0];
    ASSERT_TRUE(host.exists(path)) << path;
    EXPECT_EQ(host.mode(path), static_cast<mode_t>(std::stoi(file[1], nullptr, 8))) << path;
  }
}

void expectPPDsInstalled(SandboxHost& host, const std::string& ppdDir) {
  const std::vector<std::string> shipped = host.listDir("/opt/tam/ppd");
  ASSERT_FALSE(shipped.empty());
  for (const std::string& name : shipped) {
    EXPECT_EQ(host.mode(ppdDir + "/" + name), 0644u) << name;
  }
}

TEST(InstallRun, NewInstallationInPlaceCopiesOnlyThePPDs) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.installProduct("/opt/tam");
  const RunResult result = host.run({kSetup}, cupsHost());
  EXPECT_EQ(result.status, 0);
  const std::string log = host.log();
  const std::string ppdDir = ppdInstallDirOf(log);
  ASSERT_FALSE(ppdDir.empty()) << log;

  expectProductInstalled(host, "/opt/tam");
  expectPPDsInstalled(host, ppdDir);
  EXPECT_EQ(host.readFile("/opt/tam/velaInfo4.0"), expectedInfoFile("/opt/tam"));
  EXPECT_EQ(host.mode("/opt/tam/velaInfo4.0"), 0755u);
  const std::string script = host.readFile("/opt/tam/etc/UNINSTALLVELA");
  EXPECT_EQ(host.mode("/opt/tam/etc/UNINSTALLVELA"), 0755u);
  EXPECT_TRUE(script.ends_with("fi\n" + expectedDeletions("/opt/tam", ppdDir))) << script;
  EXPECT_EQ(std::count(script.begin(), script.end(), '\n'), 74);
  EXPECT_EQ(host.readLink("/usr/bin/korgsfilter"), "/opt/tam/bin/korgsfilter");

  expectInOrder(log, {"Directory from which we install: '/opt/tam'.\n", "System Scheduler = CUPS\n", "New installation\n",
                      "VELAINST.CONF = /opt/tam/etc/VELAINST.CONF.\n", "cd /opt/tam.\n",
                      "PPD installation dir: " + ppdDir + "\n", "Installation directory: '/opt/tam' OK. \n",
                      "Creating configuration file: '/opt/tam/velaInfo3.0'. \n",
                      "Creating uninstallation script: '/opt/tam/UNINSTALLVELA'. \n",
                      "Created script: /opt/tam/etc/UNINSTALLVELA.\n", "Creating printer start scripts. \n",
                      "goInstall: Starting copy loop for 6 items.\n",
                      "Copying file ppd/*.ppd.gz to " + ppdDir + ". \n",
                      "Changing execution rights of '" + ppdDir + "/*.ppd.gz' to  00644.\n",
                      "Link 1: /usr/bin/korgsfilter linked to /opt/tam/bin/korgsfilter.\n",
                      "Finishing Vela 4.0-0 installation : "});
  EXPECT_FALSE(logHas(log, "setup after rpm in:"));
  EXPECT_FALSE(logHas(log, "Copying file bin/")) << log;
}

TEST(InstallRun, FromAnotherDirectoryCopiesEveryFileWithItsMode) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.installProduct("/srv/vela");
  host.installSetup("/srv/vela");
  host.shell("chmod 600 /srv/vela/etc/* /srv/vela/bin/*");
  host.makeSymlink("/srv/elsewhere", "/usr/bin/korgsfilter");  // never replaced
  host.run({"/srv/vela/setup"}, cupsHost());
  const std::string log = host.log();
  const std::string ppdDir = ppdInstallDirOf(log);

  expectProductInstalled(host, "/opt/tam");
  EXPECT_EQ(host.readFile("/opt/tam/etc/vela.pp"), host.readFile("/srv/vela/etc/vela.pp"));
  EXPECT_EQ(host.readLink("/usr/bin/korgsfilter"), "/srv/elsewhere");
  EXPECT_FALSE(logHas(log, "Link 1:"));
  expectInOrder(log, {"VELAINST.CONF = /srv/vela/etc/VELAINST.CONF.\n", "cd /srv/vela.\n",
                      "setup after rpm in: /srv/vela.\n", "Copying file bin/setup to /opt/tam/bin/setup. \n",
                      "Changing execution rights of '/opt/tam/bin/setup' to  00755.\n",
                      "Copying file etc/vela4.0.png to /opt/tam/etc/vela4.0.png. \n",
                      "Changing execution rights of '/opt/tam/etc/vela4.0.png' to  00644.\n",
                      "Copying file ppd/*.ppd.gz to " + ppdDir + ". \n"});
}

TEST(InstallRun, UpgradeFromTheOlderGenerationConvertsAndArchives) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.installProduct("/opt/tam");
  const std::string oldInfo =
      "#\n# Vela 2.0 Information File\n#\n%%KORBLOCK_GENERAL_BEGIN\nUSRDIR          /opt/tam\n"
      "%%KORBLOCK_GENERAL_END\n%%KORBLOCK_PRINTERS_BEGIN\nlab1\n%%KORBLOCK_PRINTERS_END\n%%KOREND\n";
  host.writeFile("/opt/tam/velaInfo2.0", oldInfo);
  host.run({kSetup}, cupsHost());  // settles the PPD installation directory
  const std::string ppdDir = ppdInstallDirOf(host.log());
  host.remove("/opt/tam/velaInfo4.0");
  host.writeFile(ppdDir + "/Old_Model.ppd", "*PPD-Adobe: \"4.3\"\n");
  host.writeFile(ppdDir + "/sub/nested.ppd", "*PPD-Adobe: \"4.3\"\n");

  host.writeFile("/etc/victim", "untouched\n");
  host.makeSymlink("/etc/victim", "/var/tmp/VelaPPDFiles4.0-5.tar");  // planted: replaced, not followed

  host.run({kSetup}, cupsHost());
  const std::string log = host.log();
  EXPECT_EQ(host.readFile("/etc/victim"), "untouched\n");
  EXPECT_FALSE(host.isSymlink("/var/tmp/VelaPPDFiles4.0-5.tar"));
  std::string converted = oldInfo;
  converted.replace(converted.find("# Vela 2.0 Information File"), 27, "# Vela 3.0 Information File");
  EXPECT_EQ(host.readFile("/opt/tam/velaInfo4.0"), converted);
  EXPECT_EQ(host.readFile("/opt/tam/velaInfo2.0"), oldInfo);
  const RunResult listing = host.shell("tar tf /var/tmp/VelaPPDFiles4.0-5.tar");
  EXPECT_TRUE(logHas(listing.out, "Old_Model.ppd\n")) << listing.out;
  EXPECT_TRUE(logHas(listing.out, "sub/nested.ppd\n")) << listing.out;
  EXPECT_FALSE(logHas(listing.out, ppdDir.substr(1))) << "paths relative to the directory";
  expectInOrder(log, {"Upgrade Mode = 1.\n", "Saved PPD files from: " + ppdDir + ".\n",
                      "To: /var/tmp/VelaPPDFiles4.0-5.tar.\n", "Copied velaInfo2.0 to velaInfo3.0 file.\n",
                      "Copying Vela config file /opt/tam/velaInfo2.0 to velaInfo3.0. \n",
                      "goInstall: Starting copy loop"});
}

TEST(InstallRun, ReinstallationLeavesTheInformationFileAlone) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.installProduct("/opt/tam");
  const std::string info = "# kept as it is\nUSRDIR          /opt/tam\n%%KOREND\n";
  host.writeFile("/opt/tam/velaInfo4.0", info, 0600);
  host.writeFile("/opt/tam/etc/UNINSTALLVELA", "old script\n");
  host.run({kSetup}, cupsHost());
  const std::string log = host.log();
  EXPECT_EQ(host.readFile("/opt/tam/velaInfo4.0"), info);
  EXPECT_EQ(host.mode("/opt/tam/velaInfo4.0"), 0600u);
  EXPECT_TRUE(host.readFile("/opt/tam/etc/UNINSTALLVELA").starts_with("#!/bin/sh\n"));
  EXPECT_FALSE(host.exists("/var/tmp/VelaPPDFiles4.0-5.tar"));
  expectInOrder(log, {"Upgrade Mode = 2.\n", "Skip creating configuration file: '/opt/tam/velaInfo3.0'. \n"});
}

TEST(InstallRun, HostWithoutOptGetsOptMadeNotWorldWritable) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.remove("/opt");
  host.installProduct("/srv/vela");
  host.installSetup("/srv/vela");
  host.run({"/srv/vela/setup"}, cupsHost());
  const std::string log = host.log();
  EXPECT_EQ(host.mode("/opt"), 0755u);
  EXPECT_EQ(host.mode("/opt/tam"), 0755u);
  expectProductInstalled(host, "/opt/tam");
  expectInOrder(log, {"Created directory: '/opt'.\n", "Changing execution rights of '/opt' to  00755.\n",
                      "Created directory: '/opt/tam'.\n", "Created directory: '/opt/tam/bin'.\n",
                      "Created directory: '/opt/tam/etc'.\n", "Installation directory: '/opt/tam' OK. \n"});
}

TEST(InstallRun, FailingCopyIsMarkedAndGetsNoMode) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.installProduct("/srv/vela");
  host.installSetup("/srv/vela");
  host.installStub("/usr/bin/cp", 1);
  host.run({"/srv/vela/setup"}, cupsHost());
  const std::string log = host.log();
  EXPECT_TRUE(logHas(log, "Copying file bin/setup to /opt/tam/bin/setup. : WRONG!!!\n")) << log;
  EXPECT_FALSE(logHas(log, "Changing execution rights of '/opt/tam/bin/setup'"));
  EXPECT_FALSE(host.exists("/opt/tam/bin/setup"));
  // The filter was never copied, so the link has no target.
  expectInOrder(log, {"No file: /opt/tam/bin/korgsfilter\n",
                      "Link 1: /usr/bin/korgsfilter linked to /opt/tam/bin/korgsfilter.\n: WRONG!!!\n"});
  const std::vector<std::string> calls = host.stubCalls("/usr/bin/cp");
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls[0], "/usr/bin/cp bin/setup /opt/tam/bin/setup");
}

TEST(InstallRun, LabelsRunWheneverChconIsThere) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.installProduct("/opt/tam");
  host.installStub("/usr/bin/chcon", 0);
  host.run({kSetup, "-S", "0"}, cupsHost());
  expectInOrder(host.log(),
                {"chcon SELinux for: \"/usr/bin/chcon -R -u system_u /opt/tam/bin 2>/dev/null\": result: 0\n",
                 "Link 1:", "chcon SELinux for: \"/usr/bin/chcon -u system_u /usr/bin/korgsfilter 2>/dev/null\": result: 0\n",
                 "chcon SELinux for: \"/usr/bin/chcon -t bin_t /opt/tam/bin/korgsfilter 2>/dev/null\": result: 0\n"});
  const std::vector<std::string> calls = host.stubCalls("/usr/bin/chcon");
  EXPECT_EQ(calls.back(), "/usr/bin/chcon -t bin_t /opt/tam/bin/korgsfilter");

  SandboxHost bare;
  bare.installProduct("/opt/tam");
  bare.remove("/usr/bin/chcon");
  bare.run({kSetup}, cupsHost());
  EXPECT_FALSE(logHas(bare.log(), "chcon"));
  EXPECT_TRUE(logHas(bare.log(), "Link 1:"));
}

TEST(InstallRun, PolicyModuleLoadedOnlyWhenItsFileIsThere) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.installProduct("/opt/tam");
  host.installStub("/usr/sbin/semodule", 0);
  RunResult result = host.run({kSetup, "-S", "1"}, cupsHost());
  EXPECT_EQ(host.stubCalls("/usr/sbin/semodule"),
            std::vector<std::string>{"/usr/sbin/semodule -i /opt/tam/etc/vela.pp"});
  EXPECT_FALSE(logHas(result.err, "no file vela.pp"));
  EXPECT_TRUE(logHas(host.log(), "SELinux module vela.pp is installed.\n"));

  host.remove("/opt/tam/etc/vela.pp");
  result = host.run({kSetup, "-S", "1"}, cupsHost());
  EXPECT_EQ(host.stubCalls("/usr/sbin/semodule").size(), 1u);
  EXPECT_TRUE(logHas(result.err, ".......\nSELinux running, but no file vela.pp found.")) << result.err;
}

}  // namespace
