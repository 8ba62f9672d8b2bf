// The sandbox host itself: writes stay in the view, planted links are replaced rather than written through,
// commands run as the chosen user in their own pid namespace, and the view lists only its own changes.
#include <unistd.h>

#include "sandbox/sandbox_host.h"

TEST(SandboxHost, KeepsEverythingInsideTheViewAndListsOnlyItsChanges) {
  REQUIRE_SANDBOX();
  char outside[] = "/var/tmp/vela-outside-XXXXXX";
  const int fd = ::mkstemp(outside);
  ASSERT_GE(fd, 0);
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

  // Not the view's changes: a real file written meanwhile, a copy-up keeping every byte and time. A removal is "gone".
  ASSERT_EQ(host.shell("touch -r /etc/hostname /tmp/ref && cp -p /etc/hostname /etc/hostname.new && "
                       "cat /etc/hostname.new > /etc/hostname && touch -r /tmp/ref /etc/hostname && "
                       "rm /etc/hostname.new && rm -f /etc/motd && chmod 600 /etc/issue").status, 0);
  EXPECT_EQ(::write(fd, "x", 1), 1);
  ::close(fd);
  const std::string changes = host.changedEntries("/etc") + host.changedEntries("/var/tmp");
  ::unlink(outside);
  EXPECT_EQ(changes.find("/etc/hostname "), std::string::npos) << changes;
  EXPECT_NE(changes.find("gone /etc/motd\n"), std::string::npos) << changes;
  EXPECT_NE(changes.find("f /etc/issue 600 0:0 "), std::string::npos) << changes;
  EXPECT_EQ(changes.find("vela-outside"), std::string::npos) << changes;
  EXPECT_NE(host.changedEntries("/tmp").find("f /tmp/ref "), std::string::npos);
}
