// The command locator's search order, checked inside a sandbox host so that
// the candidate directories can be laid out freely.
#include "discovery/command_locator.h"
#include "driver/settings.h"
#include "sandbox/sandbox_host.h"

namespace {

// Runs the lookup inside the view and returns 0 when it gave expected.
int expectLookup(bool cups, const std::string& name, const std::optional<std::string>& expected) {
  const auto found = cups ? locateCupsCommand(name) : locateCommand(name);
  return found == expected ? 0 : 1;
}

}  // namespace

TEST(CommandLocator, FollowsTheFixedDirectoryOrder) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.writeFile("/usr/sbin/vela-x", "");
  host.writeFile("/usr/ucb/vela-x", "");
  host.writeFile("/usr/freeware/bin/vela-y", "");
  host.writeFile("/usr/local/bin/vela-z", "");
  host.makeDirs("/etc/vela-dir");
  host.writeFile("/usr/local/cups/sbin/vela-lpadmin", "");
  host.writeFile("/usr/local/bin/vela-lpstat", "");
  host.writeFile("/opt/base/lib/vela-base", "");

  struct Case {
    bool cups;
    std::string binDir, baseDir, name;
    std::optional<std::string> expected;
  } cases[] = {
      {false, "", "", "vela-x", "/usr/sbin/vela-x"},
      {false, "", "", "vela-y", "/usr/freeware/bin/vela-y"},
      {false, "", "", "vela-z", "/usr/local/bin/vela-z"},
      {false, "", "", "vela-dir", "/etc/vela-dir"},  // only existence counts
      {false, "", "", "vela-none", std::nullopt},
      {true, "/usr/local/cups", "/", "vela-lpadmin", "/usr/local/cups/sbin/vela-lpadmin"},
      {true, "/usr/local/cups", "/", "vela-lpstat", "vela-lpstat"},  // no fallback to the system list
      {true, "/usr/local/cups", "/opt/base", "vela-base", "/opt/base/lib/vela-base"},
      {true, "/usr/local/cups", "", "vela-base", "vela-base"},
      {true, "", "/opt/base", "vela-z", "/usr/local/bin/vela-z"},
      {true, "", "/opt/base", "vela-none", std::nullopt},
  };
  for (const Case& c : cases) {
    const int status = host.inside([&] {
      settings().cupsBinDir = c.binDir;
      settings().cupsBaseDir = c.baseDir;
      return expectLookup(c.cups, c.name, c.expected);
    });
    EXPECT_EQ(status, 0) << c.name << " bin=" << c.binDir << " base=" << c.baseDir;
  }
}
