// Checks of a preview (-n) against the host and against the run after it.
//
// hostListing: what a run may change on a sandbox host, as one text: the
// entries below /etc, /opt, /usr and /var that the sandbox itself has
// changed (SandboxHost::changedEntries), with type, mode, owner and link
// target, files also with size, inode, change time and checksum. Lines
// naming a path that begins with one of leaveOut are left out.
#pragma once

#include <regex>
#include <set>
#include <sstream>
#include <algorithm>
#include <string>
#include <vector>

#include "sandbox/sandbox_host.h"

inline std::string hostListing(SandboxHost& host, const std::vector<std::string>& leaveOut = {}) {
  std::string listing;
  for (const char* top : {"/etc", "/opt", "/usr", "/var"}) {
    std::istringstream lines(host.changedEntries(top));
    for (std::string line; std::getline(lines, line);) {
      const std::string path = line.substr(line.find(' ') + 1);
      const bool left = std::any_of(leaveOut.begin(), leaveOut.end(),
                                    [&](const std::string& out) { return path.starts_with(out); });
      if (!left) listing += line + "\n";
    }
  }
  return listing;
}

// The lines of one listing that the other lacks, "-" for gone and "+" for
// new; empty when they agree. Listings are long: a plain comparison that
// fails would have the test framework diff them at a cost it cannot bear.
inline std::string listingChanges(const std::string& before, const std::string& after) {
  const auto lines = [](const std::string& text) {
    std::set<std::string> set;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) set.insert(line);
    return set;
  };
  const std::set<std::string> old = lines(before), now = lines(after);
  std::string changes;
  for (const std::string& line : old)
    if (!now.contains(line)) changes += "- " + line + "\n";
  for (const std::string& line : now)
    if (!old.contains(line)) changes += "+ " + line + "\n";
  return changes;
}

// A log as the next run would write it too: without the preview's own lines
// (the tar script takes five), the time stamps, the labelling header and the
// names of private work files in /tmp.
inline std::string comparableLog(const std::string& log) {
  std::string text = std::regex_replace(log, std::regex("Would run: #!/bin/sh\n([^\n]*\n){4}"), "");
  // The wait before the restart depends on the jobs printing at that moment:
  // a preview tells the jobs printing now, a run how long it waited.
  for (const char* line : {"Would run: [^\n]*\n", "Preview: [^\n]*\n", "(Starting|Finishing) Vela[^\n]*\n",
                           "Preparing Log File:\nCommand: [^\n]*\n=+\n", "CUPS would be restarted[^\n]*\n",
                           "Waited [^\n]*\n", "No CUPS scheduler answers[^\n]*\n", "(Not )?[Hh]olding job[^\n]*\n",
                           "Releasing job[^\n]*\n"})
    text = std::regex_replace(text, std::regex(line), "");
  return std::regex_replace(text, std::regex(" /tmp/[^ :\n]*"), " /tmp/work");
}

// The queues' part of a log: from their listing up to the CUPS restart;
// empty when the log lists none.
inline std::string queuePart(const std::string& log) {
  const std::size_t from = log.find("List of Marlo Printers installed");
  if (from == std::string::npos) return "";
  // The restart's own lines (its wait, the preview's account of it) end the part.
  std::size_t to = std::string::npos;
  for (const char* restart : {"CUPS restart command", "CUPS reset returned", "CUPS would be restarted", "Waited ",
                              "No CUPS scheduler answers", "Holding job", "Not holding job"})
    to = std::min(to, log.find(restart, from));
  return log.substr(from, to == std::string::npos ? std::string::npos : to - from);
}

// The first line where a preview's log and the next run's log part ways,
// empty when they do not.
inline std::string firstDifference(const std::string& forecast, const std::string& log) {
  std::size_t at = 0;
  while (at < forecast.size() && at < log.size() && forecast[at] == log[at]) ++at;
  if (at == forecast.size() && at == log.size()) return "";
  const std::size_t line = forecast.rfind('\n', at == 0 ? 0 : at - 1);
  const std::size_t from = line == std::string::npos || at == 0 ? 0 : line + 1;
  return "preview: \"" + forecast.substr(from, forecast.find('\n', from) - from) + "\", run: \"" +
         log.substr(from, log.find('\n', from) - from) + "\"";
}
