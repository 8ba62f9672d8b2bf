// The merge on PPDs that no one here wrote: a sample of Debian's
// openprinting-ppds. Each is copied with changed defaults as a queue's "old"
// PPD and merged into the original; libcups must read every carried default
// back, and cupstestppd must judge the result no worse than the original.
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <sstream>

#include "driver/text.h"
#include "ppd_merge_support.h"

namespace {

const char* const kDriver = "/usr/lib/cups/driver/openprinting-ppds";
constexpr int kSamples = 20;

std::string commandOutput(const std::string& command) {
  std::string text;
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return text;
  char buffer[8192];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  pclose(pipe);
  return text;
}

// Every n-th URI of the driver's list, kSamples of them.
std::vector<std::string> sampleURIs() {
  std::istringstream list(commandOutput(std::string(kDriver) + " list 2>/dev/null"));
  std::vector<std::string> uris;
  for (std::string line; std::getline(list, line);) {
    if (line.size() > 1 && line[0] == '"') uris.push_back(line.substr(1, line.find('"', 1) - 1));
  }
  std::vector<std::string> sample;
  for (std::size_t i = 0; i < uris.size() && sample.size() < kSamples; i += std::max<std::size_t>(1, uris.size() / kSamples)) {
    sample.push_back(uris[i]);
  }
  return sample;
}

std::map<std::string, std::string> defaultsOf(const std::string& path) {
  OptionList list;
  int count = 0;
  readOldDefaults(path, list, count);
  std::map<std::string, std::string> defaults;
  for (const OptionEntry& entry : list.entries) defaults.emplace(entry.keyword, entry.defaultChoice);
  return defaults;
}

// The first choice of option keyword in ppd other than its default.
std::string otherChoice(const std::string& ppd, const std::string& keyword, const std::string& current) {
  const std::string start = "\n*" + keyword + " ";
  for (std::size_t at = ppd.find(start); at != std::string::npos; at = ppd.find(start, at + 1)) {
    const std::size_t from = at + start.size();
    const std::string choice = ppd.substr(from, ppd.find_first_of("/:\n", from) - from);
    if (!choice.empty() && choice != current && choice.find(' ') == std::string::npos) return choice;
  }
  return "";
}

int failuresOf(const std::string& ppd) {
  const MemFile file(ppd);
  const std::string report = commandOutput("cupstestppd -W none " + file.path() + " 2>&1");
  int failures = 0;
  for (std::size_t at = report.find("FAIL"); at != std::string::npos; at = report.find("FAIL", at + 1)) ++failures;
  return failures;
}

// ppd with every "*Default<keyword>: <from>" line set to choice, as CUPS
// writes a default that a user chose; empty when there is no such line.
std::string withDefault(std::string ppd, const std::string& keyword, const std::string& from, const std::string& choice) {
  const std::string line = "\n*Default" + keyword + ": " + from;
  bool changed = false;
  for (std::size_t at = ppd.find(line); at != std::string::npos; at = ppd.find(line, at + 1)) {
    const char next = at + line.size() < ppd.size() ? ppd[at + line.size()] : '\n';
    if (next != '\n' && next != '\r') continue;
    ppd.replace(at, line.size(), "\n*Default" + keyword + ": " + choice);
    changed = true;
  }
  return changed ? ppd : "";
}

// The PPD with another default for each option of an "*OpenUI" block that a
// user could have chosen (cupstestppd judges it no worse, so no constraint
// is broken); the changed defaults in changed.
std::string withOtherDefaults(const std::string& original, std::map<std::string, std::string>& changed) {
  const int baseline = failuresOf(original);
  std::string ppd = original;
  for (const auto& [keyword, current] : defaultsOf(MemFile(original).path())) {
    if (original.find("\n*OpenUI *" + keyword) == std::string::npos) continue;
    const std::string choice = otherChoice(original, keyword, current);
    const std::string candidate = choice.empty() ? "" : withDefault(ppd, keyword, current, choice);
    if (candidate.empty() || failuresOf(candidate) > baseline) continue;
    ppd = candidate;
    changed[keyword] = choice;
  }
  return ppd;
}

TEST(RealWorldPPDs, MergedPPDKeepsTheOldDefaultsAndStaysValid) {
  const bool onCi = std::getenv("CI") != nullptr && std::string(std::getenv("CI")) == "true";
  if (access(kDriver, X_OK) != 0 || system("command -v cupstestppd >/dev/null") != 0) {
    if (onCi) FAIL() << "openprinting-ppds and cupstestppd are needed on CI";
    GTEST_SKIP() << "openprinting-ppds or cupstestppd is not installed";
  }
  const std::vector<std::string> uris = sampleURIs();
  ASSERT_EQ(uris.size(), static_cast<std::size_t>(kSamples));
  int carried = 0;
  for (const std::string& uri : uris) {
    const std::string original = commandOutput(std::string(kDriver) + " cat '" + uri + "' 2>/dev/null");
    ASSERT_TRUE(startsWith(original, "*PPD-Adobe")) << uri;
    std::map<std::string, std::string> changed;
    const MemFile originalFile(original);
    const MemFile oldFile(withOtherDefaults(original, changed));

    OptionList oldDefaults;
    int count = 0;
    readOldDefaults(oldFile.path(), oldDefaults, count);
    const MemFile mergedFile(mergeText(original, oldDefaults, count).output);

    std::map<std::string, std::string> expected = defaultsOf(originalFile.path());
    for (const auto& [keyword, choice] : changed) expected[keyword] = choice;
    EXPECT_EQ(defaultsOf(mergedFile.path()), expected) << uri;
    EXPECT_LE(failuresOf(readWholeFile(mergedFile.path())), failuresOf(original)) << uri;
    carried += static_cast<int>(changed.size());
  }
  EXPECT_GT(carried, kSamples);  // the sample really changed defaults
}

}  // namespace
