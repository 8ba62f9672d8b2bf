// The written uninstall script run for real, and installation runs fed with
// bad input: hostile manifests, a missing or unreadable manifest, a USRDIR
// with control characters, and a product or installation without etc.
#include <gtest/gtest.h>

#include "install_support.h"

namespace {

TEST(UninstallScript, DeletesWhatItListsOnlyAfterYes) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.installProduct("/opt/tam");
  host.run({kSetup}, cupsHost());
  const std::string ppdDir = ppdInstallDirOf(host.log());
  host.makeDirs(ppdDir + "/ppd");
  host.writeFile("/opt/tam/unlisted/keep", "x");  // inside a listed directory: goes with it
  host.writeFile("/srv/keep", "x");

  RunResult answer = host.shell("sh /opt/tam/etc/UNINSTALLVELA", {.stdinText = "\n"});
  EXPECT_EQ(answer.out, "De-installation of 'Vela 4.0-0'\nDo you really want to de-install Vela 3.0? [no]? \n");
  answer = host.shell("sh /opt/tam/etc/UNINSTALLVELA", {.stdinText = "no\n"});
  EXPECT_TRUE(host.exists("/opt/tam/bin/setup"));
  EXPECT_TRUE(host.exists("/opt/tam/velaInfo4.0"));

  answer = host.shell("sh /opt/tam/etc/UNINSTALLVELA", {.stdinText = "maybe\nYeS\n"});
  EXPECT_TRUE(logHas(answer.out, "Answer with yes or no please.\n")) << answer.out;
  EXPECT_FALSE(host.exists("/opt/tam"));
  EXPECT_FALSE(host.exists(ppdDir + "/ppd"));
  EXPECT_TRUE(host.exists(ppdDir));
  EXPECT_TRUE(host.exists("/srv/keep"));
  // The link is tested with -f after its target went: left dangling.
  EXPECT_TRUE(host.isSymlink("/usr/bin/korgsfilter"));
}

// A product at /srv/vela with the given manifest, installed from there.
RunResult runWithManifest(SandboxHost& host, const std::string& manifest) {
  host.installProduct("/srv/vela");
  host.installSetup("/srv/vela");
  host.writeFile("/srv/vela/etc/VELAINST.CONF", manifest);
  return host.run({"/srv/vela/setup"}, cupsHost());
}

TEST(BadManifest, LongLinesNulAndHighBytesTouchNothingUnlisted) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  const std::string longComment = "# " + std::string(280, 'c') + " etc/vela.pp /etc 00777\n";
  const std::string longEntry = "etc/vela.pp " + std::string(250, 'd') + " /srv/target 00777\n";
  const std::string nulLine = std::string("etc/vela4.0.png\0 /srv/nul 00777\n", 32);
  const std::string highBytes = "etc/vela.pp\xff/srv/high 00600\n";
  runWithManifest(host, longComment + longEntry + nulLine + highBytes + "bin/korgsfilter . 00755\n");
  const std::string log = host.log();
  EXPECT_EQ(host.mode("/etc"), 0755u);
  EXPECT_FALSE(host.exists("/srv/target"));
  EXPECT_FALSE(host.exists("/srv/nul"));
  EXPECT_EQ(host.mode("/srv/high/vela.pp"), 0600u);
  EXPECT_EQ(host.mode("/opt/tam/bin/korgsfilter"), 0755u);
  expectInOrder(log, {"Manifest line 1 longer than 255 characters, skipped.\n",
                      "Manifest line 2 longer than 255 characters, skipped.\n",
                      "goInstall: Starting copy loop for 3 items.\n"});
}

TEST(BadManifest, MoreThanTheTableHoldsIsCutAt256) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  std::string manifest;
  for (int i = 0; i < 300; ++i) manifest += "etc/vela.pp /srv/many/" + std::to_string(i) + "\n";
  host.makeDirs("/srv/many");
  runWithManifest(host, manifest);
  const std::string log = host.log();
  EXPECT_TRUE(host.exists("/srv/many/255/vela.pp"));
  EXPECT_FALSE(host.exists("/srv/many/256"));
  expectInOrder(log, {"Manifest line 257: more than 256 entries, the rest of the manifest is ignored.\n",
                      "goInstall: Starting copy loop for 256 items.\n"});
}

TEST(BadManifest, MissingOrUnreadableManifestStopsBeforeInstalling) {
  REQUIRE_SANDBOX();
  for (const bool directory : {false, true}) {
    SandboxHost host;
    host.installProduct("/srv/vela");
    host.installSetup("/srv/vela");
    host.remove("/srv/vela/etc/VELAINST.CONF");
    if (directory) host.makeDirs("/srv/vela/VELAINST.CONF");
    host.run({"/srv/vela/setup"}, cupsHost());
    const std::string log = host.log();
    const std::string first =
        directory ? "Could not read /srv/vela/VELAINST.CONF" : "Cannot open info file: '/srv/vela/VELAINST.CONF'.\n";
    expectInOrder(log, {first, "Vela 3.0 installation missing info:\n\t'/srv/vela/VELAINST.CONF'.\nAbandon...\n",
                        "Because of insufficient data, setup stopped.\n"});
    EXPECT_FALSE(host.exists("/opt/tam"));
  }
}

TEST(BadManifest, ProductWithoutEtcReadsTheManifestBesideSetup) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.installSetup("/srv/vela");
  const std::string filter = "#!/bin/sh\nexec cat\n";
  host.writeFile("/srv/vela/korgsfilter", filter);
  // A "." entry names the file itself; the entry after it, without a
  // destination, goes beside that file rather than over it.
  host.writeFile("/srv/vela/VELAINST.CONF", "korgsfilter . 00700\nVELAINST.CONF\nkorgsfilter ./bin 00750\n");
  host.run({"/srv/vela/setup"}, cupsHost());
  expectInOrder(host.log(), {"VELAINST.CONF = /srv/vela/VELAINST.CONF.\n",
                             "Changing execution rights of '/opt/tam/korgsfilter' to  00700.\n",
                             "Copying file VELAINST.CONF to /opt/tam. \n",
                             "Copying file korgsfilter to /opt/tam/bin. \n",
                             "Changing execution rights of '/opt/tam/bin/korgsfilter' to  00750.\n"});
  EXPECT_EQ(host.mode("/opt/tam/korgsfilter"), 0700u);
  EXPECT_EQ(host.readFile("/opt/tam/korgsfilter"), filter);
  EXPECT_TRUE(host.exists("/opt/tam/VELAINST.CONF"));
  EXPECT_EQ(host.mode("/opt/tam/bin/korgsfilter"), 0750u);
}

TEST(BadInstallation, EtcThatIsNoDirectoryEndsTheRun) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.installProduct("/srv/vela");
  host.installSetup("/srv/vela");
  host.writeFile("/opt/tam/etc", "not a directory\n");
  const RunResult result = host.run({"/srv/vela/setup"}, cupsHost());
  EXPECT_EQ(result.status, 0);
  expectInOrder(host.log(), {"No TAM etc directory: '/opt/tam/etc' possible\n",
                             "Could not find or create TAM directory : /opt/tam\n",
                             "Sorry to quit the installation.\n", "Finishing Vela 4.0-0 installation : "});
  EXPECT_FALSE(host.exists("/opt/tam/bin/setup"));
}

TEST(BadInstallation, UsrdirWithControlCharacters) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.installProduct("/srv/vela");
  host.installSetup("/srv/vela");
  const std::string odd = "/srv/v\x1b;la";
  const std::string dir = odd + "\t";  // a tab after the value stays in it
  host.makeDirs(dir);
  host.writeFile("/opt/tam/velaInfo4.0", "USRDIR  \x01\x02" + odd + "\t \n");
  host.run({"/srv/vela/setup"}, cupsHost());
  const std::string log = host.log();
  EXPECT_EQ(host.mode(dir + "/bin/setup"), 0755u) << log;
  EXPECT_TRUE(logHas(log, "Installation directory: '/srv/v ;la ' OK. \n")) << log;
  const std::string script = host.readFile(dir + "/etc/UNINSTALLVELA");
  EXPECT_TRUE(logHas(script, "delDir '" + dir + "'/bin\n")) << script;

  // A value naming no directory: a new installation in /opt/tam instead.
  SandboxHost other;
  other.installProduct("/opt/tam");
  other.writeFile("/opt/tam/velaInfo4.0", "USRDIR          /nowhere\x07\n");
  other.run({kSetup}, cupsHost());
  EXPECT_TRUE(logHas(other.log(), "The installation directory:\n\t'/nowhere\x07'\ndoes not exist or is not OK.\n"));
  EXPECT_EQ(other.readFile("/opt/tam/velaInfo4.0"), expectedInfoFile("/opt/tam"));
}

}  // namespace
