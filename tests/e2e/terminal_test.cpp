// What a person at a terminal sees of a run: it speaks within a second and never falls silent for long, and
// the screen it leaves (questions on lines of their own, answers taken) is what the same run writes without one.
#include <regex>

#include "sandbox/slow_printing.h"
#include "sandbox/upgrade_scenario.h"

namespace {

// Figures of time that two runs of the same work need not share.
std::string withoutTimes(const std::string& text) { return std::regex_replace(text, std::regex("[0-9]+\\.[0-9]"), "T"); }

TEST(Terminal, TheStatusLineMovesAndLeavesTheScreenAsWithoutATerminal) {
  REQUIRE_REAL_CUPS();
  // Twin hosts, the one at a terminal, the other without: many queues, one job that prints for ever.
  std::optional<SandboxHost> hosts[2];
  std::optional<RealCups> cups[2];
  for (int i = 0; i < 2; ++i) {
    cups[i].emplace(hosts[i].emplace());
    ASSERT_EQ(prepareUpgradeHost(*hosts[i], *cups[i]), "");
    hosts[i]->shell("for i in $(seq 300); do cp /etc/cups/ppd/lab1.ppd /etc/cups/ppd/many$i.ppd; done");
    ASSERT_EQ(useSlowBackend(*hosts[i], {"lab1"}, 1), "");
    submitJobs(*hosts[i], {"lab1"}, 1, kEndlessJobTitle);
    ASSERT_TRUE(waitUntilPrinting(*hosts[i], 1, 30));
  }
  hosts[0]->copyIn(VELA_SOURCE_DIR "/tests/e2e/on_terminal.py", "/root/on_terminal.py");
  // answers: typed at the prompts, one a line; shown: on the line while the run works, none on a dumb terminal.
  struct Row {
    std::string what, options, answers, shown;
  } rows[] = {
      {"upgrade of many queues with a job printing", "", "", "Waiting for 1 printing job before restarting CUPS: 1 of"},
      {"answered questions", "-q 1", "y\na", "Updating queues "},
      {"restore", "-r", "", "Restoring queues "},
      {"preview", "-n", "", "Preview: Updating queues"},
      {"terminal that cannot move the cursor", "-n", "", ""},
      {"deinstallation", "-d", "y", "Looking at the host"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    // Each restart gives up waiting for the endless job after a few seconds.
    const std::vector<std::string> env = {row.shown.empty() ? "TERM=dumb" : "TERM=xterm", "VELARESTARTWAIT=3"};
    const RunResult seen = hosts[0]->run({"/bin/sh", "-c", "/usr/bin/python3 /root/on_terminal.py '" + row.answers +
                                                               "' /opt/tam/bin/setup " + row.options}, {.env = env});
    const RunResult plain = hosts[1]->run({"/bin/sh", "-c", "/opt/tam/bin/setup " + row.options + " 2>&1"},
                                          {.stdinText = row.answers + "\n", .env = env});
    ASSERT_EQ(seen.status, 0) << seen.err;
    // The script's output: times, then NUL, the screen it left, NUL, what the terminal got.
    const std::size_t screenAt = seen.out.find('\0') + 1, rawAt = seen.out.find('\0', screenAt) + 1;
    const std::string screen = seen.out.substr(screenAt, rawAt - 1 - screenAt), raw = seen.out.substr(rawAt);
    EXPECT_EQ(withoutTimes(screen), withoutTimes(plain.out)) << raw;
    EXPECT_EQ(plain.out.find_first_of("\r\033"), std::string::npos);
    EXPECT_EQ(raw == screen, row.shown.empty());
    if (row.shown.empty()) continue;
    EXPECT_NE(raw.find(row.shown), std::string::npos) << raw;
    double first = 99, longestSilence = 99;  // seconds until it spoke, and of its longest silence
    EXPECT_EQ(std::sscanf(seen.out.c_str(), "%lf %lf", &first, &longestSilence), 2);
    EXPECT_TRUE(first <= 1.0 && longestSilence <= 2.0) << first << " s to the first output, " << longestSilence << " s silent";
  }
}

}  // namespace
