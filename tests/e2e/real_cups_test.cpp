// The real scheduler in the sandbox: it answers on its own port and socket,
// keeps the defaults administrators set, and prints to file: devices. The
// end-to-end scenario rests on these.
#include "support/real_cups.h"

#include "e2e/e2e_support.h"

TEST(ParseLpoptions, ReadsNamesChoicesAndDefault) {
  struct Case {
    const char* line;
    const char* name;
    const char* defaultChoice;
    std::size_t choices;
  };
  const Case cases[] = {
      {"PageSize/Media Size: A4 *Letter Legal\n", "PageSize", "Letter", 3},
      {"Duplex/Two-Sided: *None DuplexNoTumble\n", "Duplex", "None", 2},
      {"Resolution: *600dpi 1200dpi\n", "Resolution", "600dpi", 2},
      {"VelaToner/Toner Saving Mode: Off On\n", "VelaToner", "", 2},
  };
  for (const Case& c : cases) {
    const QueueOptions options = parseLpoptions(c.line);
    ASSERT_EQ(options.count(c.name), 1u) << c.line;
    EXPECT_EQ(options.at(c.name).defaultChoice, c.defaultChoice) << c.line;
    EXPECT_EQ(options.at(c.name).choices.size(), c.choices) << c.line;
  }
  EXPECT_TRUE(parseLpoptions("\n").empty());
}

TEST(RealCups, KeepsDefaultsAndPrintsToAFile) {
  REQUIRE_REAL_CUPS();
  SandboxHost host;
  RealCups cups(host);
  host.writeFile("/root/other.ppd", foreignPpd());
  const RunResult added = cups.addQueue("other", "/root/other.ppd");
  ASSERT_EQ(added.status, 0) << added.err;
  ASSERT_EQ(cups.setDefaults("other", {"PageSize=Letter", "Duplex=DuplexNoTumble"}).status, 0);

  const QueueOptions options = cups.options("other");
  ASSERT_EQ(options.count("PageSize"), 1u) << cups.lpoptions("other").out;
  EXPECT_EQ(options.at("PageSize").defaultChoice, "Letter");
  EXPECT_EQ(options.at("Duplex").defaultChoice, "DuplexNoTumble");
  EXPECT_EQ(cups.queues(), std::vector<std::string>{"other"});

  host.writeFile("/root/page.txt", "A page for the file device.\n");
  const RunResult job = cups.print("other", "/root/page.txt");
  ASSERT_EQ(job.status, 0) << job.err;
  EXPECT_TRUE(cups.waitForJobsDone("other", 60));
  ASSERT_TRUE(waitForOutput(host, "/var/spool/vela-out/other", 30));
  // The text went through CUPS' filters to PostScript for this PPD.
  EXPECT_TRUE(host.readFile("/var/spool/vela-out/other").starts_with("%!PS"));

  cups.stop();
  EXPECT_FALSE(cups.running());
}
