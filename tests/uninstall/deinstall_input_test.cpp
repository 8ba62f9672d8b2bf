// `setup -d` on information files it cannot trust and on a CUPS host without
// a data directory: the run ends normally and removes only what it names.
#include <string>
#include <vector>

#include "uninstall/deinstall_host.h"

TEST(DeinstallInput, OddInformationFilesRemoveOnlyTheQueuesTheyName) {
  REQUIRE_SANDBOX();
  using namespace std::string_literals;
  const std::string longLine(600, 'w');
  struct Case {
    const char* what;
    std::string info;
    std::string lastRemoval;  // empty: lpadmin is never run
  };
  const Case cases[] = {
      {"no printers block", "#\nUSRDIR          /opt/tam\n%%KOREND\n", ""},
      {"NUL bytes", infoFile("Default\nlab\0;touch /tmp/pwned\nlab2\n"s), "-xlab2"},
      {"a very long line", infoFile("Default\n" + longLine + "\nlab2\n"), "-xlab2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SandboxHost host;
    installForRemoval(host, c.info);
    const RunResult result = runDeinstall(host);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.err.find("Vela 4.0-0 has been un-installed from the system.\n"), std::string::npos);
    EXPECT_FALSE(host.exists("/tmp/pwned"));
    const std::vector<std::string> calls = host.stubCalls(kLpadmin);
    ASSERT_EQ(calls.empty(), c.lastRemoval.empty());
    if (calls.empty()) continue;
    EXPECT_EQ(calls.back(), std::string(kLpadmin) + " " + c.lastRemoval);
    for (const std::string& call : calls) EXPECT_LE(call.size(), std::string(kLpadmin).size() + 3 + 79) << call;
  }
}

TEST(DeinstallInput, CupsHostWithoutDataDirectorySkipsTheModelStep) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  installForRemoval(host, infoFile("Default\nlab1\n"));
  for (const char* dir : {"/usr/share/cups", "/usr/local/share/cups", "/usr/local/cups", "/usr/cups", "/etc/share/cups"}) {
    if (host.exists(dir)) host.remove(dir);
  }
  host.writeFile("/model/lab1", "not the product's\n");
  host.writeFile("/opt/tam/lab1/velaConfig", "x\n");
  const RunResult result = runDeinstall(host);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(host.stubCalls(kLpadmin), std::vector<std::string>{std::string(kLpadmin) + " -xlab1"});
  EXPECT_EQ(host.readFile("/model/lab1"), "not the product's\n");
  EXPECT_FALSE(host.exists("/opt/tam/lab1"));
  EXPECT_NE(host.log().find("Deleting the Vela printer: lab1.\n"), std::string::npos);
}
