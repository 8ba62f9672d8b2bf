// The setup flow as an administrator meets it: the real binary, run inside a
// sandbox host, with its messages on the console and in the log.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "sandbox/sandbox_host.h"
#include "text_checks.h"

namespace {

const std::string kSetup = "/opt/tam/bin/setup";

// A CUPS host as far as the environment tells, so no process probes run.
RunOptions cupsHost(std::string stdinText = "", std::string cwd = "/") {
  return {.stdinText = std::move(stdinText), .env = {"KORLPMODE=CUPS"}, .cwd = std::move(cwd)};
}

class SetupFlow : public testing::Test {
 protected:
  void SetUp() override { REQUIRE_SANDBOX(); host_.emplace().installSetup(); }
  SandboxHost& host() { return *host_; }
  std::optional<SandboxHost> host_;
};

}  // namespace

TEST_F(SetupFlow, NonRootIsRefusedBeforeAnyProbe) {
  host().installStub("/usr/bin/ps");
  const RunOptions user = {.uid = 1000, .gid = 1000};
  // /var/log is not writable for the user: every line goes to standard error.
  RunResult result = host().run({kSetup}, user);
  EXPECT_EQ(result.status, 0);
  expectInOrder(result.err, {"Starting Vela 4.0-0 installation : ", "Directory from which we install: '/opt/tam'.",
                             "\n\n\tYou must be root to be able\n\tto install Vela!\n\n\tSorry!\n"});

  host().shell("chmod 1777 /var/log");
  EXPECT_EQ(host().run({kSetup}, user).err, "");
  // At debug level 1 the refusal is all that it prints.
  EXPECT_EQ(host().run({kSetup, "-D", "1"}, user).err, "Must be root.\nExiting.\n");
  const std::string log = host().readFile("/var/log/Vela4.0_UpdateLog_1000");
  expectInOrder(log, {"You must be root to be able", "Finishing Vela 4.0-0 installation : "});
  EXPECT_EQ(log.find("System Scheduler"), std::string::npos);
  EXPECT_TRUE(host().stubCalls("/usr/bin/ps").empty());
}

TEST_F(SetupFlow, LogHeaderFollowsChconEachRunStartsAfreshAndAnUnfitHostStopsEarly) {
  host().installStub("/usr/bin/chcon", 1);
  host().run({kSetup, "-d"}, cupsHost());
  std::string log = host().log();
  EXPECT_TRUE(log.starts_with("Preparing Log File:\nCommand: \"/usr/bin/chcon -u system_u /var/log/Vela4.0_UpdateLog "
                              "2>/dev/null\" returned with: 256.\n=======================================\n"
                              "Starting Vela 4.0-0 installation : ")) << log;
  // A preview labels nothing, not even its own log, and says what it is.
  host().run({kSetup, "-n", "-d"}, cupsHost());
  EXPECT_TRUE(host().readFile("/var/log/Vela4.0_PreviewLog").starts_with(
      "Preview: nothing on this host is changed; \"Would run:\" lines show the commands a run would run.\n"
      "Starting Vela 4.0-0 installation : "));
  EXPECT_EQ(host().stubCalls("/usr/bin/chcon").size(), 1u);
  EXPECT_EQ(host().log(), log);
  // Without chcon, no header; an installation on a host that is no CUPS host stops before installing.
  host().remove("/usr/bin/chcon");
  EXPECT_EQ(host().run({kSetup}, {.env = {"KORLPMODE=LPRNG"}}).status, 0);
  log = host().log();
  EXPECT_TRUE(log.starts_with("Starting Vela 4.0-0 installation : ") && countOf(log, "Starting Vela") == 1 &&
              countOf(log, "Finishing Vela 4.0-0 installation : ") == 1) << log;
  expectInOrder(log, {"System Scheduler = LPRNG\n", "Abandoned because:\n", "* No running CUPS daemon found!\n",
                      "*** Sorry ***\n", "New installation", "Because of insufficient data, setup stopped.\n"});
  EXPECT_FALSE(host().exists("/usr/bin/korgsfilter"));
}

// -h prints the usage and writes no log; without an installation, -d says so whatever the other arguments.
TEST_F(SetupFlow, HelpPrintsTheUsageAndADeinstallationWithoutAnInstallationSaysSo) {
  const std::string usage =
      "Vela setup version: 4.0-5.\nUsage:\nsetup [options].\nOptions:\n-d\t: de-installation of Vela 4.0-5.\n"
      "-fx\t: allow install from any directory: x=0:no,1:yes [1].\n-h\t: display this message.\n"
      "-qx\t: query steps of installation: x=0:no,1:yes [0].\n-Sx\t: set SELinux mode: x=0:off,1:on [1].\n"
      "-Dx\t: set debug mode. [0].\n-n\t: preview: report what the run would do, change nothing.\n"
      "-r\t: restore each product queue's PPD from its backup.\n";
  const std::string sorry = "No Vela installation found.\n*** Sorry ***\n", longText(300, 'u');
  const std::vector<std::vector<std::string>> argvs = {
      {kSetup, "-h", "-h"}, {kSetup, "-d", "-h"},  // the usage: first, while there is no log
      {kSetup, "-d"},
      {kSetup, "-x", "-d"},  // unknown option: getopt complains in each pass
      {kSetup, "-d", "-q"},  // missing argument
      {kSetup, "-d", "-q", "many", "-D", "two", "-m", "7", "-w", "/x"},
      {kSetup, "-d", "-i", longText, "-u", longText},
  };
  for (const auto& argv : argvs) {
    const RunResult result = host().run(argv, cupsHost());
    const bool help = argv.back() == "-h";
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(help ? result.err == usage : result.err.ends_with(sorry)) << result.err;
    EXPECT_EQ(host().exists("/var/log/Vela4.0_UpdateLog"), !help);
    if (!help) expectInOrder(host().log(), {"System Scheduler = CUPS\n", sorry});
    if (argv[1] == "-x") { EXPECT_EQ(countOf(result.err, "invalid option -- 'x'"), 2u) << result.err; }
  }
}

// The source directory comes from the program's path; -f 0 refuses a start from elsewhere, not a de-installation.
TEST_F(SetupFlow, SourceDirectoryComesFromTheProgramPathAndTheAnyDirectoryTestRefusesForeignStarts) {
  const std::string deepDir = "/opt/" + std::string(120, 'd') + "/" + std::string(140, 'e');
  for (const std::string dir : {"/tmp/elsewhere", "/opt/tamx/bin", "/tmp/x", "/", deepDir.c_str()})
    host().installSetup(dir);
  const std::string refusal = "Vela3.0 setup simulation, not from /opt/tam/bin.\nExiting.\n";
  const struct { std::vector<std::string> argv; std::string cwd, dir; bool refused; } cases[] = {
      {{kSetup, "-d"}, "/", "'/opt/tam'", false},
      {{"./setup", "-d"}, "/tmp/x", "'/tmp/x'", false},
      {{"/setup", "-d"}, "/", "'/setup'", false},
      {{deepDir + "/setup", "-d"}, "/", "''", false},  // too long for its field: refused
      {{"/tmp/elsewhere/setup", "-f", "0"}, "/", "'/tmp/elsewhere'", true},
      {{"/opt/tamx/bin/setup", "-f", "0"}, "/", "'/opt/tamx/bin'", false},  // only eight characters are compared
      {{"/tmp/elsewhere/setup", "-f", "0", "-d"}, "/", "'/tmp/elsewhere'", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.argv[0] + " " + c.argv[1]);
    const RunResult result = host().run(c.argv, cupsHost("", c.cwd));
    EXPECT_EQ(has(result.err, refusal + "\n"), c.refused) << result.err;
    EXPECT_EQ(has(host().log(), refusal), c.refused);
    EXPECT_TRUE(has(host().log(), "Directory from which we install: " + c.dir + ".\n")) << host().log();
  }
}

// A run restarts CUPS only after changing what the scheduler reads; its preview tells which it would do.
TEST(SetupFlowRestart, OnlyAChangeCupsReadsRestartsIt) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.installProduct("/opt/tam", {"Marlo_Ardent_110-PCL.ppd.gz", "Marlo_Tessel_1200dn-PCL.ppd.gz"});
  const std::string oldPPD = VELA_OLD_PPD_DIR "/Marlo_Tessel_1200dn-PCL.ppd";
  host.copyIn(oldPPD, "/etc/cups/ppd/lab1.ppd");
  for (const char* stub : {"/usr/bin/systemctl", "/usr/sbin/lpadmin"}) host.installStub(stub);
  const auto report = [&](const char* name) { return nlohmann::json::parse(host.readFile(name)); };
  const auto changeOtherProductPPD = [&] {
    const std::string dir = report("/var/log/Vela4.0_UpdateReport.json")["host"]["ppdInstallDir"];
    host.writeFile(dir + "/" + host.listDir(dir).front(), "changed");  // Ardent's, not lab1's Tessel
  };
  // what, before the run, its options, whether it restarts CUPS, whether its report says it changed the host
  const struct { const char* what; std::function<void()> before; std::vector<std::string> options; bool restarts, changed; }
      runs[] = {
      {"first installation", [] {}, {}, true, true},
      {"re-run, all up to date", [] {}, {}, false, false},
      {"lab1's old PPD put back by hand", [&] { host.copyIn(oldPPD, "/etc/cups/ppd/lab1.ppd"); }, {}, true, true},
      {"a product PPD changed", changeOtherProductPPD, {}, true, true},
      {"-r with lab1's backup", [] {}, {"-r"}, true, true},
      {"-r without backups", [&] { host.remove("/etc/cups/lab1.ppd.rpmsave"); }, {"-r"}, false, false},
      {"-d", [] {}, {"-d"}, false, true},
  };
  for (const auto& run : runs) {
    SCOPED_TRACE(run.what);
    run.before();
    std::vector<std::string> argv = {kSetup, "-n"};
    argv.insert(argv.begin() + 1, run.options.begin(), run.options.end());
    std::string preview = host.run(argv, cupsHost()).out;
    preview += host.readFile("/var/log/Vela4.0_PreviewLog");
    EXPECT_EQ(has(preview, "Would run: /usr/bin/systemctl restart cups.service\n"), run.restarts);
    EXPECT_TRUE(has(preview, run.restarts ? "CUPS would be restarted: yes" : "CUPS would be restarted: no, ")) << preview;
    EXPECT_EQ(report("/var/log/Vela4.0_PreviewReport.json")["cupsRestarted"], run.restarts);
    const std::size_t restartsBefore = host.stubCalls("/usr/bin/systemctl").size();
    argv.pop_back();
    std::string real = host.run(argv, cupsHost("yes\n")).out;
    real += host.log();
    EXPECT_EQ(host.stubCalls("/usr/bin/systemctl").size(), restartsBefore + (run.restarts ? 1 : 0));
    EXPECT_TRUE(has(real, run.restarts ? "CUPS restarted: yes" : "CUPS restarted: no, ")) << real;
    EXPECT_EQ(has(real, "CUPS is not restarted: "), !run.restarts);
    const nlohmann::json done = report("/var/log/Vela4.0_UpdateReport.json");
    EXPECT_EQ(done["cupsRestarted"], run.restarts);
    EXPECT_TRUE(done["restart"].contains("reason") != run.restarts && done["changed"] == run.changed) << done;
  }
}
