// Installation runs of the real setup binary in the sandbox host: from the product archive and by
// hand, with the uninstall script, upgrades, failures, SELinux and bad input. The roll-out playbook
// has its own test over SSH (tests/ansible).
#include <gtest/gtest.h>

#include <functional>

#include "sandbox/preview_check.h"
#include "sandbox/sandbox_host.h"
#include "text_checks.h"

namespace {

constexpr const char* kSetup = "/opt/tam/bin/setup";
constexpr const char* kSrvSetup = "/srv/vela/setup";
constexpr const char* kPPD = "Marlo_Tessel_1200dn-PCL.ppd.gz";

// The product at /srv/vela with setup beside it: an installation from elsewhere. Of the product's PPDs
// each host holds just the one that queue lab1 takes.
void productInSrv(SandboxHost& host) {
  host.installProduct("/srv/vela", {kPPD});
  host.installSetup("/srv/vela");
}

// Runs setup on a CUPS host (no process probes) and returns its log.
std::string runSetup(SandboxHost& host, const std::vector<std::string>& argv = {kSetup}) {
  host.run(argv, {.env = {"KORLPMODE=CUPS"}});
  return host.log();
}

// The PPD installation directory the run settled on, from its last log line.
std::string ppdInstallDirOf(const std::string& log) {
  const std::size_t at = log.rfind("PPD installation dir: ");
  return at == std::string::npos ? "" : log.substr(at + 22, log.find('\n', at) - at - 22);
}

TEST(Archive, NewInstallationInPlaceCopiesOnlyThePPDsAndItsScriptUndoesIt) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.copyIn(VELA_ARCHIVE, "/root/vela.tar.gz");  // the view's /tmp is its own: the build may lie below the host's
  ASSERT_EQ(host.shell("mkdir /opt/tam && tar -xzf /root/vela.tar.gz -C /opt/tam").status, 0);
  EXPECT_EQ(host.listDir("/opt/tam/etc"), (std::vector<std::string>{"VELAINST.CONF", "setup.8", "vela.pp", "vela4.0.png"}));
  const std::string log = runSetup(host);
  const std::string ppdDir = ppdInstallDirOf(log);
  for (const std::string& name : host.listDir("/opt/tam/ppd")) EXPECT_EQ(host.mode(ppdDir + "/" + name), 0644u) << name;
  EXPECT_EQ(host.readFile("/opt/tam/velaInfo4.0"),
            "#\n# Vela 4.0 Information File\n#\n%%KORBLOCK_GENERAL_BEGIN\nUSRDIR          /opt/tam\n"
            "HOMEDIR         $HOME\nTMPDIR          /tmp\n%%KORBLOCK_GENERAL_END\n#\n#\n%%KORBLOCK_PRINTERS_BEGIN\n"
            "Default\n%%KORBLOCK_PRINTERS_END\n#\n#\n%%KORBLOCK_USERS_BEGIN\nroot\n%%KORBLOCK_USERS_END\n#\n#\n"
            "%%KORBLOCK_PRNT_BEGIN Default\nroot\n%%KORBLOCK_PRNT_END Default\n#\n#\n%%KOREND\n");
  for (const char* path : {"/opt/tam/velaInfo4.0", "/opt/tam/etc/UNINSTALLVELA"}) EXPECT_EQ(host.mode(path), 0755u) << path;
  const std::string script = host.readFile("/opt/tam/etc/UNINSTALLVELA");
  EXPECT_EQ(std::count(script.begin(), script.end(), '\n'), 74);
  EXPECT_TRUE(script.ends_with("fi\ndelFile /opt/tam/velaInfo4.0\ndelFile /opt/tam/bin/korgsfilter\n"
                               "delFile /opt/tam/bin/nc\ndelFile /usr/bin/korgsfilter\ndelFile /opt/tam/bin/setup\n"
                               "delFile /opt/tam/etc/vela4.0.png\ndelFile /opt/tam/etc/VELAINST.CONF\n"
                               "delFile /opt/tam/VELAINST.CONF\ndelDir " + ppdDir + "/ppd\ndelDir /opt/tam/etc\n"
                               "delDir /opt/tam/bin\ndelDir /opt/tam\n")) << script;
  EXPECT_EQ(host.readLink("/usr/bin/korgsfilter"), "/opt/tam/bin/korgsfilter");
  expectInOrder(log, {"New installation\n", "VELAINST.CONF = /opt/tam/etc/VELAINST.CONF.\n",
                      "Installation directory: '/opt/tam' OK. \n", "Creating configuration file: '/opt/tam/velaInfo3.0'. \n",
                      "Created script: /opt/tam/etc/UNINSTALLVELA.\n", "goInstall: Starting copy loop for 7 items.\n",
                      "Copying file ppd/*.ppd.gz to " + ppdDir + ". \n",
                      "Changing execution rights of '" + ppdDir + "/*.ppd.gz' to  00644.\n",
                      "Link 1: /usr/bin/korgsfilter linked to /opt/tam/bin/korgsfilter.\n",
                      "Finishing Vela 4.0-0 installation : "});
  EXPECT_FALSE(has(log, "setup after rpm in:") || has(log, "Copying file bin/")) << log;

  host.makeDirs(ppdDir + "/ppd");
  const std::string uninstall = "sh /opt/tam/etc/UNINSTALLVELA";
  EXPECT_EQ(host.shell(uninstall, {.stdinText = "no\n"}).out,
            "De-installation of 'Vela 4.0-0'\nDo you really want to de-install Vela 3.0? [no]? \n");
  EXPECT_TRUE(host.exists("/opt/tam/bin/setup") && host.exists("/opt/tam/velaInfo4.0"));
  EXPECT_TRUE(has(host.shell(uninstall, {.stdinText = "maybe\nYeS\n"}).out, "Answer with yes or no please.\n"));
  EXPECT_FALSE(host.exists("/opt/tam") || host.exists(ppdDir + "/ppd"));
  EXPECT_TRUE(host.exists(ppdDir));
}

// A host without /opt and a failing cp; then a filter link that is there already and stays.
TEST(InstallRun, FromAnotherDirectoryMarksFailedCopiesAndCopiesEveryFileWithItsMode) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.remove("/opt");
  productInSrv(host);
  host.installStub("/usr/bin/cp", 1);
  std::string log = runSetup(host, {kSrvSetup});
  EXPECT_FALSE(has(log, "Changing execution rights of '/opt/tam/bin/setup'") || host.exists("/opt/tam/bin/setup"));
  expectInOrder(log, {"setup after rpm in: /srv/vela.\n", "Created directory: '/opt'.\n",
                      "Changing execution rights of '/opt' to  00755.\n",
                      "Copying file bin/setup to /opt/tam/bin/setup. : WRONG!!!\n", "No file: /opt/tam/bin/korgsfilter\n",
                      "Link 1: /usr/bin/korgsfilter linked to /opt/tam/bin/korgsfilter.\n: WRONG!!!\n"});
  EXPECT_EQ(host.stubCalls("/usr/bin/cp").at(0), "/usr/bin/cp bin/setup /opt/tam/bin/setup");
  EXPECT_EQ(host.mode("/opt"), 0755u);

  host.copyIn("/usr/bin/cp", "/usr/bin/cp");
  host.shell("chmod 600 /srv/vela/etc/* /srv/vela/bin/*");
  host.makeSymlink("/srv/elsewhere", "/usr/bin/korgsfilter");
  log = runSetup(host, {kSrvSetup});
  for (const auto& [file, mode] : std::vector<std::pair<std::string, mode_t>>{{"bin/korgsfilter", 0755}, {"etc/vela.pp", 0644}})
    EXPECT_EQ(host.mode("/opt/tam/" + file), mode) << file;
  EXPECT_EQ(host.readLink("/usr/bin/korgsfilter"), "/srv/elsewhere");
  EXPECT_TRUE(has(log, "Copying file bin/setup to /opt/tam/bin/setup. \n") && !has(log, "Link 1:")) << log;
}

TEST(InstallRun, UpgradesKeepAVela40InformationFileAndConvertAndArchiveFromVela20) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.installProduct("/opt/tam", {kPPD});
  host.writeFile("/opt/tam/velaInfo4.0", "USRDIR          /opt/tam\n", 0600);
  const std::string kept = runSetup(host), ppdDir = ppdInstallDirOf(kept);
  expectInOrder(kept, {"Upgrade Mode = 2.\n", "Skip creating configuration file: '/opt/tam/velaInfo3.0'. \n"});
  EXPECT_EQ(host.readFile("/opt/tam/velaInfo4.0"), "USRDIR          /opt/tam\n");
  EXPECT_EQ(host.mode("/opt/tam/velaInfo4.0"), 0600u);
  EXPECT_FALSE(host.exists("/var/tmp/VelaPPDFiles4.0-5.tar"));

  const std::string oldInfo = "#\n# Vela 2.0 Information File\nUSRDIR          /opt/tam\n# Information File again\n";
  host.remove("/opt/tam/velaInfo4.0");
  host.writeFile("/opt/tam/velaInfo2.0", oldInfo);
  host.writeFile(ppdDir + "/sub/nested.ppd", "*PPD-Adobe: \"4.3\"\n");
  host.writeFile("/etc/victim", "untouched\n");
  host.makeSymlink("/etc/victim", "/var/tmp/VelaPPDFiles4.0-5.tar");  // planted: replaced, not followed
  const std::string log = runSetup(host);
  EXPECT_EQ(host.readFile("/etc/victim"), "untouched\n");
  EXPECT_EQ(host.readFile("/opt/tam/velaInfo4.0"),
            "#\n# Vela 3.0 Information File\nUSRDIR          /opt/tam\n# Information File again\n");
  EXPECT_EQ(host.readFile("/opt/tam/velaInfo2.0"), oldInfo);
  const std::string listing = host.shell("tar tf /var/tmp/VelaPPDFiles4.0-5.tar").out;
  EXPECT_TRUE(has(listing, "sub/nested.ppd\n") && !has(listing, ppdDir.substr(1))) << listing;
  expectInOrder(log, {"Upgrade Mode = 1.\n", "Saved PPD files from: " + ppdDir + ".\n",
                      "To: /var/tmp/VelaPPDFiles4.0-5.tar.\n", "Copied velaInfo2.0 to velaInfo3.0 file.\n",
                      "Copying Vela config file /opt/tam/velaInfo2.0 to velaInfo3.0. \n"});
}

TEST(InstallRun, LabelsWheneverChconIsThereAndLoadsThePolicyModuleWhenItsFileIs) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.installProduct("/opt/tam", {kPPD});
  host.installStub("/usr/bin/chcon", 0);
  host.installStub("/usr/sbin/semodule", 0);
  const std::string chcon = "chcon SELinux for: \"/usr/bin/chcon ";
  expectInOrder(runSetup(host, {kSetup, "-S", "0"}),
                {chcon + "-R -u system_u /opt/tam/bin 2>/dev/null\": result: 0\n", "Link 1:",
                 chcon + "-u system_u /usr/bin/korgsfilter 2>/dev/null\": result: 0\n",
                 chcon + "-t bin_t /opt/tam/bin/korgsfilter 2>/dev/null\": result: 0\n"});
  host.remove("/usr/bin/chcon");
  const std::string log = runSetup(host, {kSetup, "-S", "1"});
  EXPECT_EQ(host.stubCalls("/usr/sbin/semodule"), std::vector<std::string>{"/usr/sbin/semodule -i /opt/tam/etc/vela.pp"});
  EXPECT_TRUE(has(log, "SELinux module vela.pp is installed.\n") && !has(log, "chcon")) << log;
  host.remove("/opt/tam/etc/vela.pp");
  const RunResult result = host.run({kSetup, "-S", "1"}, {.env = {"KORLPMODE=CUPS"}});
  EXPECT_EQ(host.stubCalls("/usr/sbin/semodule").size(), 1u);
  EXPECT_TRUE(has(result.err, ".......\nSELinux running, but no file vela.pp found.")) << result.err;
}

// A preview (-n) changes nothing, runs none of the commands that would, and
// its log foretells, line by line, the run that follows it: the directories
// it makes, the files it copies, the new PPD each queue gets and the fate of
// each of its settings.
TEST(InstallRun, PreviewChangesNothingAndItsLogIsTheNextRunsLog) {
  REQUIRE_SANDBOX();
  // upToDate: after the run; velaInfo2.0 stays, so each run converts it again.
  const struct { const char* what; std::function<void(SandboxHost&)> prepare; std::string setup; bool upToDate; } cases[] = {
      {"new installation from elsewhere", [](SandboxHost& host) { host.remove("/opt"); productInSrv(host); }, kSrvSetup, true},
      {"upgrade from Vela 2.0", [](SandboxHost& host) { host.installProduct("/opt/tam", {kPPD});
         host.writeFile("/opt/tam/velaInfo2.0", "USRDIR          /opt/tam\n"); }, kSetup, false},
  };
  const std::vector<std::string> stubs = {"/usr/bin/chcon", "/usr/sbin/semodule", "/usr/bin/systemctl", "/usr/bin/tar"};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SandboxHost host;
    c.prepare(host);
    host.copyIn(VELA_OLD_PPD_DIR "/Marlo_Tessel_1200dn-PCL.ppd", "/etc/cups/ppd/lab1.ppd");
    for (const std::string& stub : stubs) host.installStub(stub);
    const std::string before = hostListing(host, {"/var/log/Vela4.0_Preview"});
    const RunResult preview = host.run({c.setup, "-S", "1", "-n"}, {.env = {"KORLPMODE=CUPS"}});
    EXPECT_EQ(listingChanges(before, hostListing(host, {"/var/log/Vela4.0_Preview"})), "");
    EXPECT_EQ(host.listDir("/tmp"), std::vector<std::string>{}) << "private files left behind";
    for (const std::string& stub : stubs) EXPECT_EQ(host.stubCalls(stub), std::vector<std::string>{}) << stub;
    EXPECT_TRUE(has(preview.out, "Preview: nothing on this host is changed") &&
                has(preview.out, "CUPS would be restarted: yes (no CUPS scheduler answers).\n")) << preview.out;
    const std::string forecast = host.readFile("/var/log/Vela4.0_PreviewLog");
    EXPECT_TRUE(has(forecast, "Printer = lab1 with PPD=/etc/cups/ppd/lab1.ppd\n")) << forecast;
    runSetup(host, {c.setup, "-S", "1"});
    EXPECT_EQ(comparableLog(forecast), comparableLog(host.log()));
    // A re-run of the host as that run left it rewrites nothing, its uninstall script included.
    if (!c.upToDate) continue;
    const std::string done = hostListing(host, {"/var"});
    runSetup(host, {c.setup, "-S", "1"});
    EXPECT_EQ(listingChanges(done, hostListing(host, {"/var"})), "") << host.log();
  }
}

// Long lines and fields, NUL and high bytes, more entries than the table
// holds, into an installation directory named with control characters.
TEST(BadInput, HostileManifestAndUsrdirTouchNothingUnlisted) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  productInSrv(host);
  const std::string dir = "/srv/v\x1b;la\t";  // a tab after the value stays in it
  host.makeDirs(dir);
  host.writeFile("/opt/tam/velaInfo4.0", "USRDIR  \x01\x02" + dir + " \n");
  std::string manifest = "# " + std::string(280, 'c') + " etc/vela.pp /etc 00777\n";
  manifest += "etc/vela.pp " + std::string(250, 'd') + " /srv/target 00777\n# " + std::string(252, 'c') + "\n";
  manifest += std::string(48, 's') + " /srv/long 00777\n" + std::string("etc/vela4.0.png\0 /srv/nul 00777\n", 32);
  manifest += "etc/vela.pp\xff/srv/high 00600\nbin/korgsfilter . 00755\n";
  for (int i = 0; i < 300; ++i) manifest += "etc/vela.pp /srv/m" + std::to_string(i) + "\n";
  host.writeFile("/srv/vela/etc/VELAINST.CONF", manifest);
  const std::string log = runSetup(host, {kSrvSetup});
  for (const char* path : {"/etc/vela.pp", "/srv/target", "/srv/long", "/srv/nul", "/srv/m253"})
    EXPECT_FALSE(host.exists(path)) << path;
  EXPECT_EQ(host.mode("/srv/high/vela.pp"), 0600u);
  EXPECT_EQ(host.mode(dir + "/bin/korgsfilter"), 0755u);
  EXPECT_TRUE(host.exists("/srv/m252/vela.pp"));
  EXPECT_TRUE(has(host.readFile(dir + "/etc/UNINSTALLVELA"), "delDir '" + dir + "'/bin\n"));
  EXPECT_FALSE(has(log, "Manifest line 3 longer")) << "a line of 255 characters is one whole read";
  expectInOrder(log, {"Manifest line 1 longer than 255 characters, skipped.\n",
                      "Manifest line 2 longer than 255 characters, skipped.\n",
                      "Manifest line 4: source longer than 47 characters, entry skipped.\n",
                      "Manifest line 261: more than 256 entries, the rest of the manifest is ignored.\n",
                      "Installation directory: '/srv/v ;la ' OK. \n", "goInstall: Starting copy loop for 256 items.\n"});
}

// Then a product without an etc directory: the manifest beside setup.
TEST(BadInput, MissingOrUnreadableManifestStopsBeforeInstalling) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  productInSrv(host);
  host.remove("/srv/vela/etc/VELAINST.CONF");
  const std::string stop = "Vela 3.0 installation missing info:\n\t'/srv/vela/VELAINST.CONF'.\nAbandon...\n";
  expectInOrder(runSetup(host, {kSrvSetup}), {"Cannot open info file: '/srv/vela/VELAINST.CONF'.\n", stop,
                                              "Because of insufficient data, setup stopped.\n"});
  host.makeFifo("/srv/vela/VELAINST.CONF");  // passed over as missing, never waited on
  expectInOrder(runSetup(host, {kSrvSetup}), {"Cannot open info file: '/srv/vela/VELAINST.CONF'.\n", stop});
  EXPECT_FALSE(host.exists("/opt/tam"));

  host.remove("/srv/vela/VELAINST.CONF");
  host.remove("/srv/vela/etc");
  host.writeFile("/srv/vela/korgsfilter", "#!/bin/sh\nexec cat\n");
  // "." names the file itself; the entry after it, with no destination, goes beside it.
  host.writeFile("/srv/vela/VELAINST.CONF", "korgsfilter . 00700\nVELAINST.CONF\nkorgsfilter ./bin 00750\n");
  EXPECT_TRUE(has(runSetup(host, {kSrvSetup}), "VELAINST.CONF = /srv/vela/VELAINST.CONF.\n"));
  EXPECT_EQ(host.mode("/opt/tam/korgsfilter"), 0700u);
  EXPECT_EQ(host.mode("/opt/tam/bin/korgsfilter"), 0750u);
  EXPECT_TRUE(host.exists("/opt/tam/VELAINST.CONF"));
}

}  // namespace
