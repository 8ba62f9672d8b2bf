// The pure pieces of CUPS version detection: digit runs, the scheduler's
// Server line, four-digit scaling and the netcat request.
#include <gtest/gtest.h>

#include <string>

#include "discovery/cups_version.h"

TEST(VersionParsing, ScalesToFourDigits) {
  const struct {
    long in;
    long out;
  } cases[] = {{14, 1400}, {242, 2420}, {5, 5000}, {999, 9990}, {1000, 1000},  {9999, 9999},
               {24101, 2410}, {240, 2400}, {210, 2100}, {123456789, 1234}, {0, 0}, {-3, -3}};
  for (const auto& c : cases) EXPECT_EQ(scaleToFourDigits(c.in), c.out) << c.in;
}

TEST(VersionParsing, CollectsDigitsSkippingDots) {
  const struct {
    const char* text;
    const char* digits;
    long number;
  } cases[] = {
      {"2.4.2\n", "242", 242},
      {"1.4", "14", 14},
      {"2.3.3op2", "233", 233},
      {"1.0.0", "100", 100},
      {"", "", 0},
      {"v2", "", 0},
      {"..2..4", "24", 24},
      {"0024", "0024", 24},
      // A run longer than its 23-digit buffer is cut; an int-sized number keeps its leading digits.
      {"1234567890123456789012345678901234567890", "12345678901234567890123", 123456789},
      {"99999999999999999999", "99999999999999999999", 999999999},
  };
  for (const auto& c : cases) {
    const std::string digits = collectVersionDigits(c.text);
    EXPECT_EQ(digits, c.digits) << c.text;
    EXPECT_EQ(versionNumber(digits), c.number) << c.text;
  }
}

TEST(VersionParsing, ReadsTheServerLine) {
  const struct {
    const char* line;
    int version;  // -1: the line does not decide
  } cases[] = {
      {"Server: CUPS/2.4 IPP/2.1\r\n", 240},
      {"Server: CUPS/2.1\r\n", 210},
      {"Server: CUPS/2.4.2 IPP/2.1\r\n", 240},
      {"Server: CUPS/1.5\n", 150},
      {"Server: CUPS 2\n", 0},
      {"Server: CUPS/12.3\n", 123},
      {"Server: CUPS/123.9\n", 123},
      {"Server: CUPS/\n", 0},
      {"Server: CUPSx/2.4\n", 0},
      {"Server: Apache/2.4\n", -1},
      {"X-Server: none\n", -1},
      {"CUPS/2.4 without the header name\n", -1},
      {"Server: CUPS/1234567890123456789012345678901234567890\n", 123456789},
      {"Server: CUPS/0.0000000000000000000000000000000000000009\n", 0},
  };
  for (const auto& c : cases) {
    const std::optional<int> found = versionFromServerLine(c.line);
    EXPECT_EQ(found.value_or(-1), c.version) << c.line;
  }
  EXPECT_EQ(scaleToFourDigits(*versionFromServerLine("Server: CUPS/1234567890123456789012345678901234567890")), 1234);
}

TEST(VersionParsing, AsksTheSchedulerForItsHeaders) {
  EXPECT_EQ(httpProbeScript("/opt/tam/bin/kornc", "/tmp/KORabc123"),
            "#!/bin/sh\n/opt/tam/bin/kornc localhost 631 >/tmp/KORabc123 <<EOF\n"
            "HEAD / HTTP/1.1\nConnection: Close\n\n\nEOF\n");
  // A product directory with blanks stays one word for the shell.
  EXPECT_EQ(httpProbeScript("/opt/my tam/kornc", "/tmp/KORabc123").substr(0, 34),
            "#!/bin/sh\n'/opt/my tam/kornc' loca");
}
