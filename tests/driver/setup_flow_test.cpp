// The setup flow as an administrator meets it: the real binary, run inside a
// sandbox host, with its messages on the console and in the log.
#include <gtest/gtest.h>

#include "support/sandbox_host.h"

namespace {

const std::string kLog = "/var/log/Vela4.0_UpdateLog";
const std::string kSetup = "/opt/tam/bin/setup";

// A CUPS host as far as the environment tells, so no process probes run.
RunOptions cupsHost(std::string stdinText = "") {
  RunOptions options;
  options.env = {"KORLPMODE=CUPS"};
  options.stdinText = std::move(stdinText);
  return options;
}

std::size_t countOf(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Lines of text in order: each must follow the one before.
void expectInOrder(const std::string& text, const std::vector<std::string>& parts) {
  std::size_t at = 0;
  for (const std::string& part : parts) {
    const std::size_t found = text.find(part, at);
    ASSERT_NE(found, std::string::npos) << "missing in order: " << part << "\n--- in:\n" << text;
    at = found + part.size();
  }
}

const std::string kInfoFile =
    "#\n# Vela 4.0 Information File\n#\n%%KORBLOCK_GENERAL_BEGIN\nUSRDIR          /opt/tam\n"
    "%%KORBLOCK_GENERAL_END\n%%KORBLOCK_PRINTERS_BEGIN\nDefault\n%%KORBLOCK_PRINTERS_END\n%%KOREND\n";

}  // namespace

TEST(SetupFlow, HelpPrintsTheUsageAndWritesNoLog) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.installSetup();
  const std::string usage =
      "Vela setup version: 4.0-5.\nUsage:\nsetup [options].\nOptions:\n-d\t: de-installation of Vela 4.0-5.\n"
      "-fx\t: allow install from any directory: x=0:no,1:yes [1].\n-h\t: display this message.\n"
      "-qx\t: query steps of installation: x=0:no,1:yes [0].\n-Sx\t: set SELinux mode: x=0:off,1:on [1].\n"
      "-Dx\t: set debug mode. [0].\n";
  for (const std::vector<std::string>& argv : {std::vector<std::string>{kSetup, "-h"}, {kSetup, "-d", "-h"}}) {
    const RunResult result = host.run(argv, cupsHost());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, usage);
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(host.exists(kLog));
  }
}

TEST(SetupFlow, NonRootIsRefusedBeforeAnyProbe) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.installSetup();
  host.installStub("/usr/bin/ps");
  RunOptions user;
  user.uid = 1000;
  user.gid = 1000;

  // /var/log is not writable for the user: every line goes to standard error.
  RunResult result = host.run({kSetup}, user);
  EXPECT_EQ(result.status, 0);
  expectInOrder(result.err, {"Starting Vela 4.0-0 installation : ", "Directory from which we install: '/opt/tam'.",
                             "SELinux is running: No.", "\n\n\tYou must be root to be able\n\tto install Vela!\n\n\tSorry!\n"});
  EXPECT_FALSE(host.exists(kLog + "_1000"));

  // With a writable /var/log the user's own log is made.
  host.shell("chmod 1777 /var/log");
  result = host.run({kSetup}, user);
  EXPECT_EQ(result.err, "");
  const std::string log = host.readFile(kLog + "_1000");
  EXPECT_NE(log.find("You must be root to be able"), std::string::npos);
  EXPECT_NE(log.find("Finishing Vela 4.0-0 installation : "), std::string::npos);
  EXPECT_EQ(log.find("System Scheduler"), std::string::npos);
  EXPECT_TRUE(host.stubCalls("/usr/bin/ps").empty());
}

TEST(SetupFlow, AnyDirectoryTestRefusesForeignStartsButNotDeinstallation) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.installSetup("/tmp/elsewhere");
  host.installSetup("/opt/tamx/bin");
  const std::string refusal = "Vela3.0 setup simulation, not from /opt/tam/bin.\nExiting.\n";

  RunResult result = host.run({"/tmp/elsewhere/setup", "-f", "0"}, cupsHost());
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.err.find(refusal + "\n"), std::string::npos);
  std::string log = host.log();
  EXPECT_NE(log.find(refusal), std::string::npos);
  EXPECT_EQ(log.find("SELinux is running"), std::string::npos);

  // Only the first eight characters are compared.
  host.run({"/opt/tamx/bin/setup", "-f", "0"}, cupsHost());
  EXPECT_EQ(host.log().find(refusal), std::string::npos);

  host.run({"/tmp/elsewhere/setup", "-f", "0", "-d"}, cupsHost());
  log = host.log();
  EXPECT_EQ(log.find(refusal), std::string::npos);
  EXPECT_NE(log.find("No Vela installation found.\n"), std::string::npos);
}

TEST(SetupFlow, LogHeaderFollowsChconAndEachRunStartsAfresh) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.installSetup();
  host.installStub("/usr/bin/chcon", 1);
  host.run({kSetup, "-d"}, cupsHost());
  std::string log = host.log();
  EXPECT_EQ(log.rfind("Preparing Log File:\nCommand: \"/usr/bin/chcon -u system_u /var/log/Vela4.0_UpdateLog "
                      "2>/dev/null\" returned with: 256.\n=======================================\n"
                      "Starting Vela 4.0-0 installation : ",
                      0),
            0u)
      << log;
  EXPECT_EQ(countOf(log, "Starting Vela 4.0-0 installation : "), 1u);
  EXPECT_EQ(countOf(log, "Finishing Vela 4.0-0 installation : "), 1u);

  host.remove("/usr/bin/chcon");
  host.run({kSetup, "-d"}, cupsHost());
  log = host.log();
  EXPECT_EQ(log.rfind("Starting Vela 4.0-0 installation : ", 0), 0u) << log;
  EXPECT_EQ(countOf(log, "Starting Vela"), 1u);
}

TEST(SetupFlow, DeinstallationWithoutInformationFileSaysSorry) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.installSetup();
  const RunResult result = host.run({kSetup, "-d"}, cupsHost());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "No Vela installation found.\n*** Sorry ***\n");
  expectInOrder(host.log(), {"System Scheduler = CUPS\n", "No Vela installation found.\n", "*** Sorry ***\n",
                             "Finishing Vela 4.0-0 installation : "});
}

TEST(SetupFlow, DeinstallationQuestionNeedsAClearYes) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.installSetup();
  struct Case {
    std::string answer;
    std::string finalText;
  } cases[] = {
      {"no\n", "Program abandoned by user.\n"},
      {"maybe\n", "Program abandoned by user.\n"},
      {"", "Program abandoned by user.\n"},  // end of input
      {std::string(300, 'x') + "\n", "Program abandoned by user.\n"},
      {"ja\n", "Vela 4.0-0 has been un-installed from the system.\n"},
  };
  for (const Case& c : cases) {
    host.writeFile("/opt/tam/velaInfo4.0", kInfoFile);
    const RunResult result = host.run({kSetup, "-d"}, cupsHost(c.answer));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out.rfind("Do you want to delete Vela and any possible Vela printer queues?\n\n"
                               "Answer with y[es] or n[o], followed by <RETURN> please. ",
                               0),
              0u)
        << result.out;
    EXPECT_NE(result.err.find(c.finalText + "\n"), std::string::npos) << c.answer << result.err;
    EXPECT_NE(host.log().find(c.finalText), std::string::npos);
  }
}

TEST(SetupFlow, UnfitHostStopsBeforeInstalling) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.installSetup();
  RunOptions lprng;
  lprng.env = {"KORLPMODE=LPRNG"};
  const RunResult result = host.run({kSetup}, lprng);
  EXPECT_EQ(result.status, 0);
  expectInOrder(host.log(), {"System Scheduler = LPRNG\n", "Abandoned because:\n", "* No running CUPS daemon found!\n",
                             "*** Sorry ***\n", "New installation", "Because of insufficient data, setup stopped.\n",
                             "Finishing Vela 4.0-0 installation : "});
  EXPECT_FALSE(host.exists("/usr/bin/korgsfilter"));
}

TEST(SetupFlow, BadArgumentsNeverStopOrBreakTheRun) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.installSetup();
  const std::string longText(300, 'u');
  const std::vector<std::vector<std::string>> argvs = {
      {kSetup, "-x", "-d"},                 // unknown option: getopt complains in each pass
      {kSetup, "-d", "-q"},                 // missing argument
      {kSetup, "-d", "-q", "many", "-D", "two", "-m", "7", "-w", "/x"},
      {kSetup, "-d", "-i", longText, "-u", longText},
  };
  for (const auto& argv : argvs) {
    const RunResult result = host.run(argv, cupsHost());
    EXPECT_EQ(result.status, 0) << argv[1];
    EXPECT_NE(result.err.find("No Vela installation found.\n"), std::string::npos) << result.err;
  }
  const RunResult unknown = host.run(argvs[0], cupsHost());
  EXPECT_EQ(countOf(unknown.err, "invalid option -- 'x'"), 2u) << unknown.err;
}

TEST(SetupFlow, SourceDirectoryComesFromTheProgramPath) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.installSetup("/opt/tam/bin");
  host.installSetup("/tmp/x");
  host.installSetup("/");
  const std::string deepDir = "/opt/" + std::string(120, 'd') + "/" + std::string(140, 'e');
  host.installSetup(deepDir);
  struct Case {
    std::vector<std::string> argv;
    std::string cwd;
    std::string expected;
  } cases[] = {
      {{"/opt/tam/bin/setup", "-d"}, "/", "'/opt/tam'"},
      {{"./setup", "-d"}, "/tmp/x", "'/tmp/x'"},
      {{"/setup", "-d"}, "/", "'/setup'"},
      {{deepDir + "/setup", "-d"}, "/", "''"},  // too long for its field: refused
  };
  for (const Case& c : cases) {
    RunOptions options = cupsHost();
    options.cwd = c.cwd;
    host.run(c.argv, options);
    EXPECT_NE(host.log().find("Directory from which we install: " + c.expected + ".\n"), std::string::npos)
        << c.argv[0] << "\n" << host.log();
  }
}
