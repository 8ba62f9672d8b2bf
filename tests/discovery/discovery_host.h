// A sandbox host prepared for discovery runs: the setup binary in place, the
// restart commands replaced by stubs, and helpers to run setup up to the end
// of discovery and to read what it logged.
#pragma once

#include <string>
#include <vector>

#include "support/sandbox_host.h"

// Removes every way this host could restart CUPS and puts a stub systemctl
// in place that succeeds.
inline void stubRestart(SandboxHost& host, int systemctlExit = 0) {
  for (const char* path : {"/usr/bin/systemctl", "/usr/sbin/service", "/etc/init.d/cups", "/etc/init.d/cupsys"}) {
    host.remove(path);
  }
  host.installStub("/usr/bin/systemctl", systemctlExit);
}

// Removes the version sources of the real host, so that a test names its own.
inline void removeVersionSources(SandboxHost& host) {
  for (const char* path : {"/usr/bin/cups-config", "/usr/sbin/cups-config", "/sbin/cups-config", "/etc/cups/printers.conf",
                           "/usr/share/cups/doc", "/usr/share/cups/data/testprint", "/etc/cups/data"}) {
    host.remove(path);
  }
}

inline void prepareDiscoveryHost(SandboxHost& host) {
  host.installSetup();
  stubRestart(host);
}

// A de-installation run without an installation stops right after discovery.
inline RunResult runDiscovery(SandboxHost& host, std::vector<std::string> env = {"KORLPMODE=CUPS"}) {
  return host.run({"/opt/tam/bin/setup", "-d"}, {.env = env});
}

// Starts a process that ps -ef shows with exactly the given command line.
inline void startProcessShownAs(SandboxHost& host, const std::string& commandLine) {
  host.startBackground({"/usr/bin/perl", "-e", "$0 = shift; sleep 100000", commandLine});
}

inline bool hasLine(const std::string& text, const std::string& line) {
  return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}
