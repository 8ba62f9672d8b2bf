// CUPS directory discovery and the print system named by the environment:
// the text rules in-process, the host layouts in the sandbox with the real
// setup binary.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <string>

#include "discovery/cups_dirs.h"
#include "discovery/print_system.h"
#include "discovery_host.h"
#include "driver/settings.h"

TEST(CupsdPrefix, TakesTheRootOfTheSchedulerPath) {
  const struct {
    const char* text;
    const char* root;  // nullptr: nothing
    const char* cut;   // the caller's text afterwards
  } cases[] = {
      {"/usr/sbin/cupsd -l\n", "/usr", "/usr"},
      {" /usr/sbin/cupsd -l\r\n", "/usr", " /usr"},
      {"/usr/local/sbin/cupsd", "/usr/local", "/usr/local"},
      {"/opt/cups/bin/cupsd -f", "/opt/cups", "/opt/cups"},
      {"/sbin/cupsd", "", ""},
      {"cupsd -f\n", nullptr, "cupsd -f\n"},
      {"  /usr/sbin/cupsd", nullptr, "  /usr/sbin/cupsd"},
      {"/usr/bin/vi /etc/cups/cupsd.conf\n", nullptr, "/usr/bin/vi /etc/cups/cupsd.conf"},
      {"/usr/sbin/lpd\n", nullptr, "/usr/sbin/lpd"},
      {"", nullptr, ""},
  };
  for (const auto& c : cases) {
    std::string text = c.text;
    const std::optional<std::string> root = getCupsdPrefix(text);
    EXPECT_EQ(root.has_value(), c.root != nullptr) << c.text;
    if (root && c.root) {
      EXPECT_EQ(*root, c.root) << c.text;
    }
    EXPECT_EQ(text, c.cut) << c.text;
  }
  std::string longPath = "/" + std::string(300, 'x') + "/sbin/cupsd";
  EXPECT_FALSE(getCupsdPrefix(longPath).has_value());
}

TEST(CupsPrefixes, ReadsPrefixLinesOfTheStartupScript) {
  const struct {
    std::string script;
    int result;
    const char* prefix;
    const char* execPrefix;
  } cases[] = {
      {"#!/bin/sh\nprefix=/opt/cups\nexec_prefix=/opt/cups\n", 1, "/opt/cups", "/opt/cups"},
      {"exec_prefix=/usr\n", 1, "", "/usr"},
      {"prefix=/\n", 1, "/", ""},
      {"# prefix=\"/usr\" \r\n", 1, "\"/usr\" \r", ""},
      {"exec_prefix=/a\nexec_prefix=/b\nprefix=/c\nprefix=/d\n", 1, "/c", "/a"},
      {"# " + std::string(260, 'x') + "prefix=/srv\n", 1, "/srv", ""},  // read in two pieces
      {"PIDFILE=/run/cupsd.pid\n", 0, "", ""},
  };
  for (const auto& c : cases) {
    std::string content = c.script;
    std::FILE* script = fmemopen(content.data(), content.size(), "r");
    ASSERT_NE(script, nullptr);
    std::string prefix;
    std::string execPrefix;
    EXPECT_EQ(readCupsPrefixes(script, prefix, execPrefix), c.result) << c.script;
    EXPECT_EQ(prefix, c.prefix) << c.script;
    EXPECT_EQ(execPrefix, c.execPrefix) << c.script;
    std::fclose(script);
  }
}

TEST(PrintSystemEnv, MatchesNamesExactly) {
  const struct {
    const char* korlpmode;  // nullptr: not set
    const char* velalpmode;
    int result;
  } cases[] = {
      {"CUPS", nullptr, 8},    {"LPRNG", nullptr, 4},  {"LPR", nullptr, 2},  {"LP", nullptr, 1},
      {"cups", "CUPS", 0},     {"", "CUPS", 0},        {nullptr, "LPRNG", 4}, {nullptr, nullptr, 0},
      {"CUPS ", nullptr, 0},   {nullptr, "lp", 0},     {"LP", "CUPS", 1},
  };
  for (const auto& c : cases) {
    c.korlpmode ? setenv("KORLPMODE", c.korlpmode, 1) : unsetenv("KORLPMODE");
    c.velalpmode ? setenv("VELALPMODE", c.velalpmode, 1) : unsetenv("VELALPMODE");
    EXPECT_EQ(getPrintSystemFromEnv(), c.result)
        << (c.korlpmode ? c.korlpmode : "(unset)") << " / " << (c.velalpmode ? c.velalpmode : "(unset)");
  }
  unsetenv("KORLPMODE");
  unsetenv("VELALPMODE");
}

// The scheduler as ps -ef shows it settles the two CUPS roots.
TEST(CupsDirsHost, RootsFromTheRunningScheduler) {
  REQUIRE_SANDBOX();
  const struct {
    const char* shownAs;
    const char* startupScript;  // nullptr: none
    bool etcCups;
    const char* baseDir;
    const char* binDir;
  } cases[] = {
      {"/usr/sbin/cupsd -l", nullptr, true, "/", "/usr"},
      {"/usr/local/sbin/cupsd -l", nullptr, true, "", "/usr/local"},
      {"/usr/sbin/cupsd -l", "prefix=/opt/cups\nexec_prefix=/opt/cups\n", true, "/opt/cups", "/opt/cups"},
      {"/usr/sbin/cupsd -l", "exec_prefix=/srv/cups\n", true, "", "/srv/cups"},
      {"/usr/sbin/cupsd -l", "# nothing here\n", false, "", "/usr"},
      {"cupsd -f", nullptr, true, "/", "/usr"},
      {"/sbin/cupsd -f", nullptr, false, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shownAs + std::string(c.startupScript ? " with a start-up script" : ""));
    SandboxHost host;
    prepareDiscoveryHost(host);
    host.makeDirs("/usr/local/sbin");
    if (c.startupScript) host.writeFile("/etc/init.d/cups", c.startupScript, 0755);
    if (!c.etcCups) host.remove("/etc/cups");
    startProcessShownAs(host, c.shownAs);
    const RunResult run = runDiscovery(host, {});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string log = host.log();
    EXPECT_TRUE(hasLine(log, "System Scheduler = CUPS")) << log;
    EXPECT_TRUE(hasLine(log, std::string("CUPS base dir: ") + c.baseDir)) << log;
    EXPECT_TRUE(hasLine(log, std::string("CUPS binary dir: ") + c.binDir)) << log;
  }
}

TEST(CupsDirsHost, DataDirectoryFollowsTheBinaryDirectory) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.makeDirs("/opt/cups/share/cups");
  const auto dataDir = [&host](const char* binDir) {
    return host.inside([binDir] {
      settings().cupsBinDir = binDir;
      const std::optional<std::string> dir = getCupsDataDir();
      return !dir ? 0 : *dir == "/opt/cups/share/cups" ? 1 : *dir == "/usr/share/cups" ? 2 : 3;
    });
  };
  EXPECT_EQ(dataDir("/opt/cups"), 1);
  EXPECT_EQ(dataDir(""), 2);
  for (const char* dir : {"/usr/share/cups", "/usr/local/share/cups", "/usr/local/cups", "/usr/cups", "/etc/share/cups"}) {
    host.remove(dir);
  }
  EXPECT_EQ(dataDir("/usr"), 0);
}
