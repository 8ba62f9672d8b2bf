// The sandbox host itself: writes stay in the view, planted links are
// replaced rather than written through, commands run as the chosen user in
// their own pid namespace.
#include <unistd.h>

#include "sandbox/sandbox_host.h"

TEST(SandboxHost, KeepsEverythingInsideTheView) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.writeFile("/etc/vela-sandbox-marker", "inside\n");
  EXPECT_EQ(host.readFile("/etc/vela-sandbox-marker"), "inside\n");
  EXPECT_NE(access("/etc/vela-sandbox-marker", F_OK), 0);

  host.makeSymlink("/etc/hostname", "/tmp/planted");
  host.writeFile("/tmp/planted", "replaced\n");
  EXPECT_FALSE(host.isSymlink("/tmp/planted"));
  EXPECT_NE(host.readFile("/etc/hostname"), "replaced\n");

  EXPECT_EQ(host.run({"/usr/bin/id", "-u"}, {.uid = 1000, .gid = 1000}).out, "1000\n");
  const RunResult ps = host.run({"/bin/ps", "-e", "-o", "pid="});
  EXPECT_LT(std::count(ps.out.begin(), ps.out.end(), '\n'), 5) << ps.out;
}
