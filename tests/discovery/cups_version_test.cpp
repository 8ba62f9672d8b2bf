// CUPS version detection on sandbox hosts: the scheduler's Server header
// through netcat, each file method with its log line, the default, and
// bad numbers. Also the temporary files it makes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "discovery/temp_file.h"
#include "discovery_host.h"

namespace {

std::string httpAnswer(const std::string& serverLine) {
  return "HTTP/1.1 200 OK\r\nDate: Mon, 01 Jan 2024 00:00:00 GMT\r\n" + serverLine + "\r\nConnection: close\r\n\r\n";
}

}  // namespace

TEST(CupsVersionHost, EachSourceInTurn) {
  REQUIRE_SANDBOX();
  const struct {
    const char* name;
    const char* path;     // file or stub to place; nullptr: none
    std::string content;  // file content, or a stub's output
    bool stub;
    const char* logLine;
  } cases[] = {
      {"product netcat", "/opt/tam/bin/kornc", httpAnswer("Server: CUPS/2.4 IPP/2.1"), true,
       "CUPS Header Version : 2400//HTTP"},
      {"system nc", "/usr/bin/nc", httpAnswer("Server: CUPS/2.1"), true, "CUPS Header Version : 2100//HTTP"},
      {"40-digit Server header", "/usr/bin/nc", httpAnswer("Server: CUPS/" + std::string(40, '7')), true,
       "CUPS Header Version : 7777//HTTP"},
      {"Server line without CUPS", "/usr/bin/nc", httpAnswer("Server: Apache/2.4"), true,
       "CUPS Version : 1400// CUPS Version not found. Reset to 1.4"},
      {"cups-config", "/usr/bin/cups-config", "2.4.2", true, "CUPS Version : 2420 // 2.4.2"},
      {"cups-config overflowing an int", "/usr/bin/cups-config", "98765432109876543210987654321", true,
       "CUPS Version : 9876 // 98765432109876543210987654321"},
      {"printer configuration", "/etc/cups/printers.conf",
       "# Printer configuration file for CUPS v2.3.3op2\n# Written by cupsd\n", false,
       "CUPS Version : 2330 // # Printer configuration file for CUPS v2.3.3op2"},
      {"documentation title", "/usr/share/cups/doc/index.html",
       "<HTML>\n<HEAD>\n<TITLE>Home - CUPS 2.2.7</TITLE>\n</HEAD>\n", false,
       "CUPS Version : 2270// <TITLE>Home - CUPS 2.2.7</TITLE>"},
      {"documentation directory", "/usr/share/doc/cups-1.2/README", "", false,
       "CUPS Version : 1200// /usr/share/doc/cups-1.2"},
      {"test page", "/usr/share/cups/data/testprint.ps", "%!PS\n%%Title: Printed Using CUPS v1.1.23\n", false,
       "CUPS Version : 1123// %%Title: Printed Using CUPS v1.1.23"},
      {"test banner", "/usr/share/cups/data/testprint", "#PDF-BANNER\n# Produced By cups \tV1.3.9\n", false,
       "CUPS Version : 1390// # Produced By cups \tV1.3.9"},
      {"nothing at all", nullptr, "", false, "CUPS Version : 1400// CUPS Version not found. Reset to 1.4"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SandboxHost host;
    prepareDiscoveryHost(host);
    removeVersionSources(host);
    host.remove("/usr/bin/nc");
    if (c.path && c.stub) host.installStub(c.path, 0, c.content);
    if (c.path && !c.stub) host.writeFile(c.path, c.content);
    const RunResult run = runDiscovery(host);
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string log = host.log();
    EXPECT_TRUE(hasLine(log, c.logLine)) << log;
    if (c.path && std::string(c.path).find("nc") != std::string::npos && c.stub) {
      const std::vector<std::string> calls = host.stubCalls(c.path);
      ASSERT_EQ(calls.size(), 1u);
      EXPECT_EQ(calls[0], std::string(c.path) + " localhost 631");
    }
  }
}

TEST(CupsVersionHost, UnusableAnswersFallThrough) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  prepareDiscoveryHost(host);
  removeVersionSources(host);
  host.installStub("/usr/bin/cups-config", 0, "1.0.0");
  host.makeDirs("/etc/cups/printers.conf");  // there, but unreadable as a file
  host.writeFile("/usr/share/cups/doc/index.html", "<TITLE>CUPS " + std::string(300, '9') + "</TITLE>\n");
  const RunResult run = runDiscovery(host);
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string log = host.log();
  EXPECT_NE(log.find("CUPS Version : 9999// <TITLE>CUPS 999"), std::string::npos) << log;
  EXPECT_EQ(log.find("CUPS Version : 1000 //"), std::string::npos) << log;
}

TEST(TempFile, MakesAnEmptyPrivateFile) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  const int status = host.inside([] {
    const std::string path = myTmpName("/tmp/", "KOR");
    struct stat info;
    if (path.size() != 14 || path.rfind("/tmp/KOR", 0) != 0) return 1;
    if (stat(path.c_str(), &info) != 0 || info.st_size != 0 || (info.st_mode & 0777) != 0600) return 2;
    return myTmpName("/tmp", nullptr) == path ? 3 : 0;
  });
  EXPECT_EQ(status, 0);
}

TEST(TempFileDeathTest, FailsWithStatus255) {
  EXPECT_EXIT(myTmpName("/nonexistent-vela-dir/", "KOR"), testing::ExitedWithCode(255),
              "^myTmpName\\(/nonexistent-vela-dir,KOR\\) Failed!\n$");
}
