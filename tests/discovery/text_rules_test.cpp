// The text rules of discovery, in-process: the scheduler's path, the start-up script's prefix lines, the
// print system named by the environment, version digits and their scaling, a temporary file not made.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <cstdio>
#include <string>

#include "discovery/cups_dirs.h"
#include "discovery/cups_version.h"
#include "discovery/print_system.h"
#include "discovery/temp_file.h"

using Row = std::array<std::string, 3>;

TEST(CupsdPrefix, TakesTheRootOfTheSchedulerPathAndCutsTheText) {
  const std::string longPath = "/" + std::string(300, 'x') + "/sbin/cupsd";
  for (Row c : {Row{" /usr/sbin/cupsd -l\r\n", "/usr", " /usr"}, Row{"/usr/local/sbin/cupsd", "/usr/local", "/usr/local"},
                Row{"/sbin/cupsd", "", ""}, Row{"cupsd -f\n", "(none)", "cupsd -f\n"},
                Row{"/usr/bin/vi /etc/cups/cupsd.conf\n", "(none)", "/usr/bin/vi /etc/cups/cupsd.conf"},
                Row{longPath, "(none)", longPath.substr(0, 301)}}) {
    EXPECT_EQ(getCupsdPrefix(c[0]).value_or("(none)"), c[1]);
    EXPECT_EQ(c[0], c[2]);
  }
}

TEST(CupsPrefixes, ReadsPrefixLinesOfTheStartupScript) {
  // The script; the result, prefix and exec_prefix read. The long line is read in two pieces.
  for (Row c : {Row{"prefix=/opt/cups\nexec_prefix=/opt/cups\n", "1 /opt/cups /opt/cups"},
                Row{"# prefix=\"/usr\" \r\n", "1 \"/usr\" \r "}, Row{"PIDFILE=/run/cupsd.pid\n", "0  "},
                Row{"exec_prefix=/a\nexec_prefix=/b\nprefix=/c\nprefix=/d\n", "1 /c /a"},
                Row{"# " + std::string(300, 'x') + "prefix=/srv\n", "1 /srv "}}) {
    std::FILE* file = fmemopen(c[0].data(), c[0].size(), "r");
    std::string prefix, execPrefix;
    const int result = readCupsPrefixes(file, prefix, execPrefix);
    std::fclose(file);
    EXPECT_EQ(std::to_string(result) + " " + prefix + " " + execPrefix, c[1]) << c[0];
  }
}

TEST(PrintSystemEnv, MatchesNamesExactly) {
  const struct { const char *korlpmode, *velalpmode; int result; } cases[] = {  // nullptr: not set
      {"CUPS", nullptr, 8}, {"LPRNG", nullptr, 4}, {"LPR", nullptr, 2},   {"LP", "CUPS", 1},  {"cups", "CUPS", 0},
      {"", "CUPS", 0},      {"CUPS ", nullptr, 0}, {nullptr, "LPRNG", 4}, {nullptr, "lp", 0}, {nullptr, nullptr, 0}};
  for (const auto& c : cases) {
    c.korlpmode ? setenv("KORLPMODE", c.korlpmode, 1) : unsetenv("KORLPMODE");
    c.velalpmode ? setenv("VELALPMODE", c.velalpmode, 1) : unsetenv("VELALPMODE");
    EXPECT_EQ(getPrintSystemFromEnv(), c.result) << (c.korlpmode ? c.korlpmode : "-") << (c.velalpmode ? c.velalpmode : "-");
  }
}

TEST(VersionParsing, DigitRunsServerLinesAndScaling) {
  // A run longer than its 23-digit buffer is cut; one too long for an int keeps its leading digits.
  for (const Row& c : {Row{"2.4.2\n", "242", "2420"}, Row{"1.4", "14", "1400"}, Row{"2.3.3op2", "233", "2330"},
                       Row{"..2..4", "24", "2400"}, Row{"v2", "", "0"}, Row{"2.4.10.1", "24101", "2410"},
                       Row{std::string(40, '1'), std::string(23, '1'), "1111"}}) {
    EXPECT_EQ(collectVersionDigits(c[0]), c[1]) << c[0];
    EXPECT_EQ(scaleToFourDigits(versionNumber(c[1])), std::stol(c[2])) << c[0];
  }
  const std::pair<const char*, int> serverLines[] = {  // -1: the line does not decide
      {"Server: CUPS/2.4.2 IPP/2.1\r\n", 240}, {"Server: CUPS/12.3\n", 123}, {"Server: CUPS 2\n", 0},
      {"Server: CUPSx/2.4\n", 0}, {"Server: Apache/2.4\n", -1}, {"CUPS/2.4 without the header\n", -1},
      {"Server: CUPS/1234567890123456789012345678901234567890\n", 123456789}};
  for (const auto& [line, version] : serverLines) EXPECT_EQ(versionFromServerLine(line).value_or(-1), version) << line;
}

TEST(TempFileDeathTest, ExitsWithStatus255WhenNoFileCanBeMade) {
  EXPECT_EXIT(myTmpName("/nonexistent-vela-dir/", "KOR"), testing::ExitedWithCode(255),
              "^myTmpName\\(/nonexistent-vela-dir,KOR\\) Failed!\n$");
}
