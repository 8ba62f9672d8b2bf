// Sandbox hosts for discovery runs: setup in place, restart commands stubbed, and a run up to the end of
// discovery that checks what it logged.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sandbox/sandbox_host.h"

// Removes every way this host could restart CUPS but a stub systemctl.
inline void stubRestart(SandboxHost& host, int systemctlExit = 0) {
  for (const char* p : {"/usr/bin/systemctl", "/usr/sbin/service", "/etc/init.d/cups", "/etc/init.d/cupsys"}) host.remove(p);
  host.installStub("/usr/bin/systemctl", systemctlExit);
}

// A bare host has neither CUPS version sources nor known PPD trees of its own.
inline void prepareDiscoveryHost(SandboxHost& host, bool bare = false) {
  host.installSetup();
  stubRestart(host);
  for (const char* path : {"/usr/bin/cups-config", "/usr/sbin/cups-config", "/sbin/cups-config", "/usr/bin/nc",
                           "/etc/cups/printers.conf", "/usr/share/cups/doc", "/usr/share/cups/data/testprint",
                           "/etc/cups/data", "/usr/share/ppd", "/usr/share/cups/model", "/etc/cups/model", "/opt/cups",
                           "/usr/ppd", "/opt/share", "/usr/local/share/ppd", "/usr/share/foomatic"}) {
    if (bare) host.remove(path);
  }
}

// A de-installation run without an installation stops right after discovery. Expects status 0, each of lines
// at a line start in the log (a trailing newline makes it whole lines) and none of absent.
inline void runDiscovery(SandboxHost& host, const std::vector<std::string>& lines, const std::vector<std::string>& absent = {},
                         std::vector<std::string> env = {"KORLPMODE=CUPS"}) {
  const RunResult run = host.run({"/opt/tam/bin/setup", "-d"}, {.env = env});
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string log = host.log();
  for (const std::string& line : lines) EXPECT_NE(("\n" + log).find("\n" + line), std::string::npos) << line << log;
  for (const std::string& text : absent) EXPECT_EQ(log.find(text), std::string::npos) << text << log;
}
