// The command locator's search order, checked inside a sandbox host so that
// the candidate directories can be laid out freely.
#include "discovery/command_locator.h"
#include "driver/settings.h"
#include "sandbox/sandbox_host.h"

TEST(CommandLocator, FollowsTheFixedDirectoryOrder) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  for (const char* path : {"/usr/sbin/vela-x", "/usr/ucb/vela-x", "/usr/freeware/bin/vela-y", "/usr/local/bin/vela-z",
                           "/usr/local/cups/sbin/vela-lpadmin", "/usr/local/bin/vela-lpstat", "/opt/base/lib/vela-base"})
    host.writeFile(path, "");
  host.makeDirs("/etc/vela-dir");

  const struct { bool cups; std::string binDir, baseDir, name; std::optional<std::string> expected; } cases[] = {
      {false, "", "", "vela-x", "/usr/sbin/vela-x"},         {false, "", "", "vela-y", "/usr/freeware/bin/vela-y"},
      {false, "", "", "vela-z", "/usr/local/bin/vela-z"},    {false, "", "", "vela-none", std::nullopt},
      {false, "", "", "vela-dir", "/etc/vela-dir"},  // only existence counts
      {true, "/usr/local/cups", "/", "vela-lpadmin", "/usr/local/cups/sbin/vela-lpadmin"},
      {true, "/usr/local/cups", "/", "vela-lpstat", "vela-lpstat"},  // no fallback to the system list
      {true, "/usr/local/cups", "/opt/base", "vela-base", "/opt/base/lib/vela-base"},
      {true, "/usr/local/cups", "", "vela-base", "vela-base"},
      {true, "", "/opt/base", "vela-z", "/usr/local/bin/vela-z"}, {true, "", "/opt/base", "vela-none", std::nullopt},
  };
  for (const auto& c : cases) {
    const int status = host.inside([&] {
      settings().cupsBinDir = c.binDir;
      settings().cupsBaseDir = c.baseDir;
      return (c.cups ? locateCupsCommand(c.name) : locateCommand(c.name)) == c.expected ? 0 : 1;
    });
    EXPECT_EQ(status, 0) << c.name << " bin=" << c.binDir << " base=" << c.baseDir;
  }
}
