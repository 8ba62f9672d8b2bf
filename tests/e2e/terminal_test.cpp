// What a person at a terminal sees of a run: it speaks within a second and
// never falls silent for long, questions wait on lines of their own, and
// the screen it leaves is what the same run writes without a terminal.
#include <regex>

#include "sandbox/slow_printing.h"
#include "sandbox/upgrade_scenario.h"

namespace {

struct BusyHost {
  SandboxHost sandbox;
  std::optional<RealCups> cups;
};

// Figures of time that two runs of the same work need not share.
std::string withoutTimes(const std::string& text) { return std::regex_replace(text, std::regex("[0-9]+\\.[0-9]"), "T"); }

TEST(Terminal, TheStatusLineMovesAndLeavesTheScreenAsWithoutATerminal) {
  REQUIRE_REAL_CUPS();
  // Twin hosts: the one at the terminal, the other without one.
  BusyHost hosts[2];
  for (BusyHost& host : hosts) {
    host.cups.emplace(host.sandbox);
    ASSERT_EQ(prepareUpgradeHost(host.sandbox, *host.cups), "");
    host.sandbox.shell("for i in $(seq 300); do cp /etc/cups/ppd/lab1.ppd /etc/cups/ppd/many$i.ppd; done");
  }
  hosts[0].sandbox.copyIn(VELA_SOURCE_DIR "/tests/e2e/on_terminal.py", "/root/on_terminal.py");
  struct Row {
    const char* what;
    std::string options;
    std::string answers;  // typed at the prompts, one per question
    const char* shown;    // on the line while the run works; empty where nothing may be drawn
    bool jobsPrinting;
    std::string term = "xterm";
  } rows[] = {
      {"installation with many queues", "", "", "Updating queues ", false},
      {"upgrade with jobs printing", "", "", "Waiting for 1 printing job before restarting CUPS: 1 of at most 3 s", true},
      {"answered questions", "-q 1", "y,a", "Updating queues ", false},
      {"restore", "-r", "", "Restoring queues ", false},
      {"preview", "-n", "", "Preview: Updating queues", false},
      {"terminal that cannot move the cursor", "-n", "", "", false, "dumb"},
      {"deinstallation", "-d", "y", "Looking at the host", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    for (BusyHost& host : hosts) {
      if (!row.jobsPrinting) continue;
      ASSERT_EQ(useSlowBackend(host.sandbox, {"lab1"}, 1), "");
      submitJobs(host.sandbox, {"lab1"}, 1, kEndlessJobTitle);
      ASSERT_TRUE(waitUntilPrinting(host.sandbox, 1, 30));
    }
    // The restart gives up waiting for the endless job after a few seconds.
    const RunOptions options = {.env = {"TERM=" + row.term, "VELARESTARTWAIT=3"}};
    const RunResult seen = hosts[0].sandbox.run({"/bin/sh", "-c", "/usr/bin/python3 /root/on_terminal.py '" + row.answers +
                                                                      "' /opt/tam/bin/setup " + row.options}, options);
    std::string typed = std::regex_replace(row.answers, std::regex(","), "\n") + "\n";
    const RunResult plain = hosts[1].sandbox.run({"/bin/sh", "-c", "/opt/tam/bin/setup " + row.options + " 2>&1"},
                                                 {.stdinText = typed, .env = options.env});
    ASSERT_EQ(seen.status, 0) << seen.err;
    const std::size_t screenAt = seen.out.find('\0') + 1, rawAt = seen.out.find('\0', screenAt) + 1;
    const std::string screen = seen.out.substr(screenAt, rawAt - 1 - screenAt), raw = seen.out.substr(rawAt);
    EXPECT_EQ(withoutTimes(screen), withoutTimes(plain.out)) << raw;
    EXPECT_EQ(plain.out.find_first_of("\r\033"), std::string::npos);
    if (*row.shown == '\0') {
      EXPECT_EQ(raw, screen);
      continue;
    }
    EXPECT_NE(raw.find(row.shown), std::string::npos) << raw;
    double first = 99, longestSilence = 99;
    std::sscanf(seen.out.c_str(), "%lf %lf", &first, &longestSilence);
    EXPECT_LE(first, 1.0);
    EXPECT_LE(longestSilence, 2.0);
    // Each question starts at the beginning of a cleared line.
    const std::regex question("(Do|Would) you .*\\?");
    for (auto at = std::sregex_iterator(raw.begin(), raw.end(), question); at != std::sregex_iterator(); ++at) {
      const std::size_t from = static_cast<std::size_t>(at->position());
      EXPECT_TRUE(from == 0 || raw[from - 1] == '\n' || (from >= 4 && raw.compare(from - 4, 4, "\r\033[K") == 0))
          << raw.substr(from >= 20 ? from - 20 : 0, 60);
    }
  }
}

}  // namespace
