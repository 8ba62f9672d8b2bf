// Discovery on sandbox hosts with the real setup binary: print system and CUPS directories from the
// process list, the CUPS version from each source, the CUPS restart with each service manager.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "discovery/command_locator.h"
#include "discovery/cups_dirs.h"
#include "discovery_host.h"
#include "sandbox/real_cups.h"
#include "driver/settings.h"

TEST(PrintSystemHost, ProcessesScriptsAndLpdDecide) {
  REQUIRE_SANDBOX();
  const auto cups = [](const std::string& base, const std::string& bin) -> std::vector<std::string> {
    return {"System Scheduler = CUPS\nCUPS base dir: " + base + "\nCUPS binary dir: " + bin + "\n"}; };
  // process: as ps -ef shows it; extra: what "lpd -V" says, or the start-up script when it starts "prefix=".
  const struct { std::string process, extra; std::vector<std::string> env, lines; } cases[] = {
      {"/usr/sbin/cupsd -l", "", {"KORLPMODE=cups", "VELALPMODE=CUPS"}, cups("/", "/usr")},
      {"/usr/local/sbin/cupsd -l", "", {}, cups("", "/usr/local")},
      {"/usr/sbin/cupsd -l", "prefix=/opt/cups\nexec_prefix=/opt/cups\n", {}, cups("/opt/cups", "/opt/cups")},
      {"cupsd -f", "", {}, cups("/", "/usr")},
      {"/usr/sbin/cupsd -l " + std::string(300, 'x'), "", {}, cups("/", "/usr")},
      {"/usr/sbin/cupsd -l", "", {"KORLPMODE=CUPS"}, cups("", "")},
      {"/usr/lib/lp/lpsched", "", {}, {"System Scheduler = LP\n"}},
      {"/usr/sbin/lpd -F", "lpd (LPRng) 3.8.28", {}, {"System Scheduler = LPRNG\n"}},
      {"/usr/sbin/lpd -F", "lpd: illegal option -- V", {}, {"System Scheduler = LPR\n"}},
      {"", "", {}, {"System Scheduler = Unknown\n"}},  // the probes' own grep lines only
  };
  for (const auto& c : cases) {
    SandboxHost host;
    prepareDiscoveryHost(host);
    if (c.extra.starts_with("prefix=")) host.writeFile("/etc/init.d/cups", c.extra, 0755);
    if (c.extra.starts_with("lpd")) host.installStub("/usr/sbin/lpd", 0, "", "echo '" + c.extra + "' >&2");
    if (!c.process.empty()) host.startBackground({"/usr/bin/perl", "-e", "$0 = shift; sleep 100000", c.process});
    runDiscovery(host, c.lines, {}, c.env);
    for (const std::string& name : host.listDir("/tmp")) EXPECT_FALSE(name.starts_with("KOR")) << name;
  }
}

// The look-ups of commands and of the CUPS data directory, in-process, on a host laid out for them.
TEST(LookUpHost, CommandsAndTheDataDirectoryFollowTheFixedOrder) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  for (const char* path : {"/usr/sbin/vela-x", "/usr/ucb/vela-x", "/usr/freeware/bin/vela-y", "/usr/local/bin/vela-z",
                           "/usr/local/cups/sbin/vela-lpadmin", "/usr/local/bin/vela-lpstat", "/opt/base/lib/vela-base"})
    host.writeFile(path, "");
  for (const char* dir : {"/etc/vela-dir", "/opt/cups/share/cups"}) host.makeDirs(dir);
  using LookUp = std::optional<std::string> (*)(std::string_view);
  const LookUp sys = locateCommand, cups = locateCupsCommand, data = [](std::string_view) { return getCupsDataDir(); };
  const struct { LookUp lookUp; std::string binDir, baseDir, name; std::optional<std::string> expected; } cases[] = {
      {sys, "", "", "vela-x", "/usr/sbin/vela-x"},         {sys, "", "", "vela-y", "/usr/freeware/bin/vela-y"},
      {sys, "", "", "vela-z", "/usr/local/bin/vela-z"},    {sys, "", "", "vela-none", std::nullopt},
      {sys, "", "", "vela-dir", "/etc/vela-dir"},  // only existence counts
      {cups, "/usr/local/cups", "/", "vela-lpadmin", "/usr/local/cups/sbin/vela-lpadmin"},
      {cups, "/usr/local/cups", "/", "vela-lpstat", "vela-lpstat"},  // no fallback to the system list
      {cups, "/usr/local/cups", "/opt/base", "vela-base", "/opt/base/lib/vela-base"},
      {cups, "/usr/local/cups", "", "vela-base", "vela-base"},
      {cups, "", "/opt/base", "vela-z", "/usr/local/bin/vela-z"}, {cups, "", "/opt/base", "vela-none", std::nullopt},
      {data, "/opt/cups", "", "", "/opt/cups/share/cups"},       {data, "", "", "", "/usr/share/cups"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(host.inside([&] {
      settings().cupsBinDir = c.binDir;
      settings().cupsBaseDir = c.baseDir;
      return c.lookUp(c.name) == c.expected ? 0 : 1;
    }), 0) << c.name << " bin=" << c.binDir << " base=" << c.baseDir;
  }
}

TEST(CupsVersionHost, EachSourceInTurn) {
  REQUIRE_SANDBOX();
  const auto http = [](const std::string& server) { return "HTTP/1.1 200 OK\r\n" + server + "\r\nConnection: close\r\n\r\n"; };
  // path: a stub when below a bin directory, else a file; empty: none.
  const struct { std::string path, content, logLine; } cases[] = {
      {"/opt/tam/bin/kornc", http("Server: CUPS/2.4 IPP/2.1"), "CUPS Header Version : 2400//HTTP"},
      {"/usr/bin/nc", http("Server: CUPS/" + std::string(40, '7')), "CUPS Header Version : 7777//HTTP"},
      {"/usr/bin/cups-config", "2.4.2", "CUPS Version : 2420 // 2.4.2"},
      {"/usr/bin/cups-config", "98765432109876543210987654321", "CUPS Version : 9876 // 98765432109876543210987654321"},
      {"/etc/cups/printers.conf", "# Printer configuration file for CUPS v2.3.3op2\n",
       "CUPS Version : 2330 // # Printer configuration file for CUPS v2.3.3op2"},
      {"/usr/share/cups/doc/index.html", "<HEAD>\n<TITLE>Home - CUPS 2.2.7</TITLE>\n",
       "CUPS Version : 2270// <TITLE>Home - CUPS 2.2.7</TITLE>"},
      {"/usr/share/doc/cups-1.2/README", "", "CUPS Version : 1200// /usr/share/doc/cups-1.2"},
      {"/usr/share/cups/data/testprint.ps", "%%Title: Printed Using CUPS v1.1.23\n",
       "CUPS Version : 1123// %%Title: Printed Using CUPS v1.1.23"},
      {"/usr/share/cups/data/testprint", "#PDF-BANNER\n# Produced By cups \tV1.3.9\n",
       "CUPS Version : 1390// # Produced By cups \tV1.3.9"},
      {"", "", "CUPS Version : 1400// CUPS Version not found. Reset to 1.4"},
  };
  for (const auto& c : cases) {
    SandboxHost host;
    prepareDiscoveryHost(host, true);
    if (c.path.find("/bin/") != std::string::npos) host.installStub(c.path, 0, c.content);
    else if (!c.path.empty()) host.writeFile(c.path, c.content);
    if (c.path.starts_with("/usr/share/cups/doc")) host.installStub("/usr/bin/cups-config", 0, "1.0.0");  // unusable,
    if (c.path.starts_with("/usr/share/cups/doc")) host.makeDirs("/etc/cups/printers.conf");            // so passed
    runDiscovery(host, {c.logLine + "\n"}, {"CUPS Version : 1000 //"});  // not from the unusable cups-config
    if (c.path.ends_with("nc")) { EXPECT_EQ(host.stubCalls(c.path), std::vector<std::string>{c.path + " localhost 631"}); }
  }
}

// Without netcat libcups asks the scheduler (no printers.conf yet); a peer on 631 that never ends is given up in time.
TEST(CupsVersionHost, WithoutNetcatLibcupsAsksTheScheduler) {
  REQUIRE_REAL_CUPS();
  const std::string trickle =
      "use IO::Socket::INET; my $s = IO::Socket::INET->new(LocalPort => 631, Listen => 1, ReuseAddr => 1) or die;"
      "while (my $c = $s->accept) { $c->autoflush(1); print $c \"HTTP/1.1 200 OK\\r\\n\"; sleep 1 while print $c \"X: y\\r\\n\"; }";
  const struct { bool realScheduler; std::vector<std::string> lines; } cases[] = {
      {true, {"CUPS Header Version : 2400//HTTP\n"}},
      {false, {"The HTTP probe of the CUPS version gave up after 5 seconds.\n",
               "CUPS Version : 1400// CUPS Version not found. Reset to 1.4\n"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.realScheduler ? "cupsd" : "a peer that never ends its answer");
    SandboxHost host;
    std::optional<RealCups> cups;
    if (c.realScheduler) cups.emplace(host);
    prepareDiscoveryHost(host, true);
    for (const char* nc : {"/bin/nc", "/usr/bin/nc", "/usr/bin/netcat", "/usr/bin/nc.openbsd"}) host.remove(nc);
    if (!c.realScheduler) {
      host.startBackground({"/usr/bin/perl", "-e", trickle});
      ASSERT_EQ(host.shell("for i in $(seq 50); do ss -ltn | grep -q ':631 ' && exit 0; sleep 0.1; done; exit 1").status, 0);
    }
    const auto started = std::chrono::steady_clock::now();
    runDiscovery(host, c.lines, {"CUPS Version : 1000"});
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));
  }
}

TEST(CupsRestartHost, TriesEachServiceManager) {
  REQUIRE_SANDBOX();
  const std::string bySystemctl = "CUPS restart command:\"/usr/bin/systemctl restart cups.service\"\n";
  const std::string ok = "CUPS reset returned with: 0\n", failed = "CUPS reset returned with: 256\n",
                    none = "CUPS reset returned with: -1\n", sorry = "Cannot reset CUPS. Sorry!\n";
  // systemctl: exit code, -1: absent; others: more restart commands; log: its lines in a row; call: of the others.
  const struct { int systemctl; std::vector<const char*> others; std::string log, call; } cases[] = {
      {0, {"/usr/sbin/service", "/etc/init.d/cups"}, bySystemctl + ok, ""},
      {1, {"/etc/init.d/cups", "/etc/init.d/cupsys"}, bySystemctl + failed + ok, "/etc/init.d/cups restart"},
      {1, {"/etc/init.d/cupsys"}, bySystemctl + failed + ok, "/etc/init.d/cupsys restart"},
      {-1, {"/usr/sbin/service", "/etc/init.d/cups"}, none + ok, "/usr/sbin/service cups restart"},
      {1, {}, bySystemctl + failed + sorry + failed, ""},
      {-1, {}, none + sorry + none, ""},
  };
  // One host for all cases; each starts without earlier calls' records and PPDs, so that its run restarts CUPS.
  SandboxHost host;
  host.installProduct("/opt/tam", {"Marlo_Tessel_1200dn-PCL.ppd.gz"});
  for (const auto& c : cases) {
    for (const char* path : {"/var/lib/sandbox-stubs", "/usr/share/ppd/openprinting/tam"}) host.remove(path);
    stubRestart(host, c.systemctl < 0 ? 0 : c.systemctl);
    if (c.systemctl < 0) host.remove("/usr/bin/systemctl");
    for (const char* path : c.others) host.installStub(path);
    EXPECT_EQ(host.run({"/opt/tam/bin/setup"}, {.env = {"KORLPMODE=CUPS"}}).status, 0);
    EXPECT_NE(host.log().find("\n" + c.log), std::string::npos) << c.log << host.log();  // never the first line
    for (const std::string p : c.others)
      EXPECT_EQ(host.stubCalls(p), c.call.starts_with(p + ' ') ? std::vector{c.call} : std::vector<std::string>{});
  }
}
