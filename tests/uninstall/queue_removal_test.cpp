// Queue removal through `setup -d`: which queues of the printers block go,
// what lpadmin and lpstat are asked, and what stays on hosts whose spooler
// the installer does not drive.
#include <string>
#include <vector>

#include "uninstall/deinstall_host.h"

namespace {

std::vector<std::string> removalsOf(const std::vector<std::string>& names) {
  std::vector<std::string> calls;
  for (const std::string& name : names) calls.push_back(std::string(kLpadmin) + " -x" + name);
  return calls;
}

}  // namespace

TEST(QueueRemoval, WalksThePrintersBlockAfterItsHead) {
  REQUIRE_SANDBOX();
  struct Case {
    std::string block;
    int count;
    std::vector<std::string> removed;
    std::vector<std::string> kept;
  };
  const Case cases[] = {
      {"Default\nlab1\nlab2\n", 3, {"lab1", "lab2"}, {}},
      {"lab1\nlab2\n", 2, {"lab2"}, {"lab1"}},
      {"", 0, {}, {}},
      {"Default\n", 1, {}, {}},
      {"Default\n\nnull\nDefault\n", 4, {"null"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.block);
    SandboxHost host;
    installForRemoval(host, infoFile(c.block));
    for (const std::string& name : c.removed) host.writeFile("/opt/tam/" + name + "/velaConfig", "x\n");
    for (const std::string& name : c.kept) host.writeFile("/opt/tam/" + name + "/velaConfig", "x\n");
    host.writeFile("/opt/tam/lab2.sh", "#!/bin/sh\n");

    const RunResult result = runDeinstall(host);
    EXPECT_EQ(result.status, 0) << result.err;
    const std::string log = host.log();
    EXPECT_EQ(countOf(log, "Number of Vela printers found: " + std::to_string(c.count) + ".\n"), 1) << log;
    EXPECT_EQ(host.stubCalls(kLpadmin), removalsOf(c.removed));
    EXPECT_EQ(countOf(log, "Deleting the Vela printer: "), static_cast<int>(c.removed.size())) << log;
    for (const std::string& name : c.removed) EXPECT_FALSE(host.exists("/opt/tam/" + name)) << name;
    for (const std::string& name : c.kept) EXPECT_TRUE(host.exists("/opt/tam/" + name)) << name;
    EXPECT_EQ(host.exists("/opt/tam/lab2.sh"), c.removed.empty() || c.removed.back() != "lab2");
    EXPECT_TRUE(host.inside([] {
      struct stat st;
      return stat("/dev/null", &st) == 0 && S_ISCHR(st.st_mode) ? 1 : 0;
    }) == 1) << "/dev/null must stay the null device";
  }
}

TEST(QueueRemoval, RetriesAFailingLpadminOnceAfterAnLpstatQuery) {
  REQUIRE_SANDBOX();
  for (const int status : {0, 1}) {
    SCOPED_TRACE(status);
    SandboxHost host;
    installForRemoval(host, infoFile("Default\nlab1\n"), status);
    runDeinstall(host);
    const std::string log = host.log();
    const std::string removal = "Executing command:\n\t/usr/sbin/lpadmin -xlab1 2>/dev/null\n";
    const std::string query = "Executing command:\n\t/usr/bin/lpstat -plab1 -l > /dev/null\n";
    const std::string expected = status == 0 ? removal : removal + query + removal;
    EXPECT_EQ(countOf(log, "Executing command:"), status == 0 ? 1 : 3);
    EXPECT_EQ(countOf(log, expected + "Deleting the Vela printer: lab1.\n"), 1) << log;
    EXPECT_EQ(host.stubCalls(kLpadmin).size(), status == 0 ? 1u : 2u);
    EXPECT_EQ(host.stubCalls(kLpstat).size(), status == 0 ? 0u : 1u);
  }
}

TEST(QueueRemoval, LprHostsKeepTheirQueuesButLoseTheProductsFiles) {
  REQUIRE_SANDBOX();
  for (const char* printSystem : {"LPR", "LPRNG"}) {
    SCOPED_TRACE(printSystem);
    SandboxHost host;
    installForRemoval(host, infoFile("Default\nlab1\n"));
    host.writeFile("/opt/tam/lab1/velaConfig", "x\n");
    host.writeFile("/opt/tam/lab1.sh", "#!/bin/sh\n");
    runDeinstall(host, printSystem);
    EXPECT_TRUE(host.stubCalls(kLpadmin).empty());
    EXPECT_FALSE(host.exists("/opt/tam/lab1"));
    EXPECT_FALSE(host.exists("/opt/tam/lab1.sh"));
    EXPECT_EQ(countOf(host.log(), "Deleting the Vela printer: lab1.\n"), 1);
  }
}

TEST(QueueRemoval, RetiresTheModelFileAndTheQueuesOwnDeviceEntryOnly) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  installForRemoval(host, infoFile("Default\nlab1\nlab2\n"));
  host.writeFile("/usr/share/cups/model/lab1", "model\n");
  host.writeFile("/usr/share/cups/model/lab1.old", "older\n");
  host.writeFile("/dev/lab1", "entry\n");
  ASSERT_EQ(host.inside([] { return mknod("/dev/lab2", S_IFCHR | 0600, makedev(1, 5)); }), 0);
  runDeinstall(host);
  EXPECT_FALSE(host.exists("/usr/share/cups/model/lab1"));
  EXPECT_EQ(host.readFile("/usr/share/cups/model/lab1.old"), "model\n");
  EXPECT_FALSE(host.exists("/dev/lab1"));
  EXPECT_TRUE(host.exists("/dev/lab2")) << "a device node of the host is not a queue's entry";
}

TEST(QueueRemoval, UntrustedNamesRunOnlyTheRemovalTheyName) {
  REQUIRE_SANDBOX();
  const std::string longName(200, 'v');
  const std::vector<std::string> names = {"a b", "it's", "say \"hi\"", "x;touch /tmp/pwned", "$(touch /tmp/pwned)",
                                          "`touch /tmp/pwned`", "../../srv/victim", "..", ".", longName};
  std::string block = "Default\n";
  for (const std::string& name : names) block += name + "\n";
  SandboxHost host;
  installForRemoval(host, infoFile(block), 1);
  const std::string record = "printf '%s|%s\\n' \"$#\" \"$1\" >> /var/lib/sandbox-stubs/args";
  host.installStub(kLpadmin, 1, "", record);
  host.installStub(kLpstat, 0, "", record);
  host.writeFile("/srv/victim/keep", "keep\n");
  host.writeFile("/srv/victim.sh", "keep\n");
  host.writeFile("/opt/tam/keep", "keep\n");

  const RunResult result = runDeinstall(host);
  EXPECT_EQ(result.status, 0) << result.err;
  std::string expected;
  for (const std::string& name : names) {
    const std::string queue = name == longName ? name.substr(0, 79) : name;
    expected += "1|-x" + queue + "\n2|-p" + queue + "\n1|-x" + queue + "\n";
  }
  EXPECT_EQ(host.readFile("/var/lib/sandbox-stubs/args"), expected);
  EXPECT_FALSE(host.exists("/tmp/pwned"));
  EXPECT_TRUE(host.exists("/srv/victim/keep"));
  EXPECT_TRUE(host.exists("/srv/victim.sh"));
  EXPECT_TRUE(host.exists("/opt/tam/keep"));
  EXPECT_EQ(countOf(host.log(), "is not a plain file name"), 12) << host.log();
}
