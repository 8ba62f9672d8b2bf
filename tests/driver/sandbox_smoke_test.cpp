// The sandbox host itself: a view that writes nothing outside, runs commands
// as chosen users, and keeps its processes to itself.
#include <sys/stat.h>
#include <unistd.h>

#include "support/sandbox_host.h"

TEST(SandboxHost, KeepsWritesInsideTheView) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.writeFile("/etc/vela-sandbox-marker", "inside\n");
  EXPECT_EQ(host.readFile("/etc/vela-sandbox-marker"), "inside\n");
  EXPECT_NE(access("/etc/vela-sandbox-marker", F_OK), 0);

  const RunResult ps = host.run({"/bin/ps", "-e", "-o", "pid="});
  EXPECT_EQ(ps.status, 0) << ps.err;
  EXPECT_LT(std::count(ps.out.begin(), ps.out.end(), '\n'), 5) << ps.out;

  const RunResult user = host.run({"/usr/bin/id", "-u"}, {.uid = 1000, .gid = 1000});
  EXPECT_EQ(user.out, "1000\n");
}

TEST(SandboxHost, PlantedLinksDoNotLeadOut) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.makeSymlink("/etc/hostname", "/tmp/planted");
  host.writeFile("/tmp/planted", "replaced\n");
  EXPECT_FALSE(host.isSymlink("/tmp/planted"));
  EXPECT_EQ(host.shell("cat /etc/hostname").out == "replaced\n", false);
}
