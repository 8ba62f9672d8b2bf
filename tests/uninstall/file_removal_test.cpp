// File removal: the product's files and directories with their log lines,
// links and special files inside the tree, and the tree removal on paths it
// must refuse.
#include <unistd.h>

#include <string>

#include "driver/settings.h"
#include "driver/update_log.h"
#include "uninstall/deinstall_host.h"
#include "uninstall/file_removal.h"

namespace {

const char* const kFileLines[] = {
    "/opt/tam/vela' - OK.",           "/opt/tam/velaInfo4.0' - OK.",        "/opt/tam/bin/korgsfilter' - OK.",
    "/usr/bin/korgsfilter' - OK.",    "/opt/tam/etc/UNINSTALLVELA' - OK.",  "/opt/tam/bin/setup' - OK.",
    "/opt/tam/etc/vela4.0.png' - OK.", "/opt/tam/VELAINST.CONF' - OK.",     "/opt/tam/etc/VELAINST.CONF' - OK.",
    "/usr/bin/korgsfilter' - Not possible!", "/opt/tam/bin/nc' - OK.",
};

std::string expectedRemovalLines(const char* ppdVerdict) {
  std::string lines;
  for (const char* line : kFileLines) lines += std::string("Deleting file: '") + line + "\n";
  for (const std::string dir : {"Default", "ppd", "etc", "bin"}) {
    lines += "Deleting directory: '/opt/tam/" + dir + "' - " + (dir == "ppd" ? ppdVerdict : "OK.") + "\n";
  }
  return lines;
}

// Runs the removal in the view with the log open, as the flow would.
int removeInView(SandboxHost& host, const std::string& installDir, int remove) {
  return host.inside([&] {
    settings().installDir = installDir;
    settings().logPath = "/var/log/Vela4.0_UpdateLog";
    UpdateLog::open(0);
    const int result = removeInstalledFiles(remove);
    UpdateLog::close();
    return result;
  });
}

}  // namespace

TEST(FileRemoval, RemovesTheProductButNeverFollowsLinksOut) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  installForRemoval(host, infoFile("Default\n"));
  host.writeFile("/srv/elsewhere/file", "keep\n");
  host.writeFile("/srv/elsewhere/dir/file", "keep\n");
  host.makeSymlink("/srv/elsewhere/file", "/opt/tam/bin/tool");
  host.makeSymlink("/srv/elsewhere/dir", "/opt/tam/etc/data");
  host.makeFifo("/opt/tam/ppd/sub/pipe");

  const RunResult result = runDeinstall(host);
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(host.log().find(expectedRemovalLines("Not possible!")), std::string::npos) << host.log();
  EXPECT_EQ(host.readFile("/srv/elsewhere/file"), "keep\n");
  EXPECT_EQ(host.readFile("/srv/elsewhere/dir/file"), "keep\n");
  EXPECT_TRUE(host.exists("/opt/tam/ppd/sub/pipe"));
  EXPECT_FALSE(host.exists("/opt/tam/bin"));
  EXPECT_FALSE(host.exists("/opt/tam/etc"));
  EXPECT_TRUE(host.exists("/opt/tam"));
}

TEST(FileRemoval, AnsweringNoRemovesNothing) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  installForRemoval(host, infoFile("Default\nlab1\n"));
  host.writeFile("/opt/tam/lab1/velaConfig", "x\n");
  const RunResult result = runDeinstall(host, "CUPS", "no\n");
  EXPECT_NE(result.err.find("Program abandoned by user.\n\n"), std::string::npos) << result.err;
  EXPECT_TRUE(host.stubCalls(kLpadmin).empty());
  EXPECT_EQ(host.log().find("Deleting"), std::string::npos);
  for (const char* path : {"/opt/tam/lab1/velaConfig", "/opt/tam/velaInfo4.0", "/usr/bin/korgsfilter",
                           "/opt/tam/bin/setup", "/opt/tam/ppd/Marlo.ppd"}) {
    EXPECT_TRUE(host.exists(path)) << path;
  }
}

TEST(FileRemoval, ReportOnlyAndMissingInstallationTouchNothing) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  installForRemoval(host, infoFile("Default\n"));
  host.remove("/opt/tam/bin/korgsfilter");  // leaves the filter link dangling
  EXPECT_EQ(removeInView(host, "/opt/tam", 0), 1);
  std::string expected = expectedRemovalLines("OK.");
  expected.replace(expected.find("bin/korgsfilter' - OK."), 22, "bin/korgsfilter' - Not possible!");
  expected.replace(expected.find("/usr/bin/korgsfilter' - Not possible!"), 37, "/usr/bin/korgsfilter' - OK.");
  EXPECT_NE(host.log().find(expected), std::string::npos) << host.log();
  EXPECT_TRUE(host.exists("/opt/tam/etc/UNINSTALLVELA"));
  EXPECT_TRUE(host.isSymlink("/usr/bin/korgsfilter"));

  EXPECT_EQ(removeInView(host, "/opt/missing", 1), 0);
  EXPECT_EQ(countOf(host.log(), "Deleting"), 0);
  EXPECT_NE(host.log().find("The installation directory:\n\t'/opt/missing'\ndoes not exist or is not OK.\n"),
            std::string::npos);
  EXPECT_TRUE(host.isSymlink("/usr/bin/korgsfilter"));
}

TEST(FileRemoval, TreeRemovalRefusesWhatIsNotItsOwnDirectory) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.writeFile("/srv/target/file", "keep\n");
  host.makeSymlink("/srv/target", "/srv/link");
  host.writeFile("/srv/plain", "keep\n");
  host.makeSymlink("/nowhere", "/srv/dangling/link");
  host.writeFile("/srv/deep/a/b/c/file", "x\n");
  struct Case {
    const char* path;
    int result;
    bool stays;
  };
  for (const Case& c : {Case{"/srv/missing", -1, false}, Case{"/srv/plain", -1, true}, Case{"/srv/link", -1, true},
                        Case{"/srv/dangling", -1, true}, Case{"/srv/deep", 0, false}}) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(host.inside([&] { return removeTree(c.path) + 1; }), c.result + 1);
    EXPECT_EQ(host.exists(c.path), c.stays);
  }
  EXPECT_EQ(host.readFile("/srv/target/file"), "keep\n");
}
