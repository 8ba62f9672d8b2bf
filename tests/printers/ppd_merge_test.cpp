// The PPD data in process: the model table, the product's PPDs, and the option
// merge on untidy, huge and real-world (Debian's openprinting-ppds) input.
#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "printers/model_table.h"
#include "printers/ppd_merge.h"
#include "printers/printer_list.h"

namespace {

// A file only in memory, reached by its /proc path so that libcups and child programs can open it.
struct MemFile {
  explicit MemFile(const std::string& text) { EXPECT_EQ(write(fd, text.data(), text.size()), ssize_t(text.size())); }
  ~MemFile() { close(fd); }
  MemFile(const MemFile&) = delete;
  std::string path() const { return "/proc/self/fd/" + std::to_string(fd); }
  const int fd = memfd_create("vela-test", 0);
};

std::string commandOutput(const std::string& command) {
  std::string text;
  std::FILE* pipe = popen(command.c_str(), "r");
  char buffer[8192];
  for (std::size_t n; pipe != nullptr && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  if (pipe != nullptr) pclose(pipe);
  return text;
}

// processNewPPD over newPPD with the old defaults of oldPath (its log silenced).
std::string merge(const std::string& newPPD, const std::string& oldPath, OptionList list = {}) {
  int count = static_cast<int>(list.entries.size());
  if (!oldPath.empty()) readOldDefaults(oldPath, list, count);
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE *in = fmemopen(const_cast<char*>(newPPD.data()), newPPD.size(), "r"), *out = open_memstream(&buffer, &size);
  testing::internal::CaptureStderr();
  EXPECT_EQ(processNewPPD(in, out, list, count), 0);
  testing::internal::GetCapturedStderr();
  std::fclose(in);
  std::fclose(out);
  const std::string output(buffer, size);
  free(buffer);
  return output;
}

std::map<std::string, std::string> defaultsOf(const std::string& ppd) {
  OptionList list;
  int count = 0;
  readOldDefaults(MemFile(ppd).path(), list, count);
  std::map<std::string, std::string> defaults;
  for (const OptionEntry& entry : list.entries) defaults.emplace(entry.keyword, entry.defaultChoice);
  return defaults;
}

// 312 rows of at most 28 characters, ids 1-311 (two on two rows), first contained row wins.
TEST(ModelTable, HasTheStatedShapeAndFirstMatchWins) {
  const auto rows = modelTable();
  ASSERT_EQ(rows.size(), 312u);
  std::map<int, int> rowsPerId;
  int shadowed = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_TRUE(!rows[i].name.empty() && rows[i].name.size() <= kModelNameLimit) << rows[i].name;
    ++rowsPerId[rows[i].id];
    const std::string text = "\"Marlo " + std::string(rows[i].name) + " PS\"";
    std::size_t first = 0;
    while (text.find(rows[first].name) == std::string::npos) ++first;
    EXPECT_EQ(findModelId(text), rows[first].id) << text;
    shadowed += first < i;
  }
  EXPECT_EQ(rowsPerId.begin()->first, 1);
  EXPECT_EQ(rowsPerId.rbegin()->first, 311);
  EXPECT_EQ(std::count_if(rowsPerId.begin(), rowsPerId.end(), [](const auto& e) { return e.second == 2; }), 2);
  EXPECT_EQ(shadowed, 2);
}

// Both generations pass cupstestppd; each old PPD's compressed successor is found, each read once.
TEST(ProductPPDs, NewPPDOfEachOldOneIsFound) {
  const long opensBefore = candidateOpenCount();
  int found = 0;
  for (const auto& entry : std::filesystem::directory_iterator(VELA_OLD_PPD_DIR)) {
    PrinterEntry queue;
    queue.modelText = getPPDModel(entry.path(), queue.pdlKind, queue.modelId).value_or("");
    std::string path;
    found += findPPDInDir(VELA_PRODUCT_DIR "/ppd", queue, path) == 1 &&
             path == VELA_PRODUCT_DIR "/ppd/" + entry.path().filename().string() + ".gz";
  }
  EXPECT_EQ(found, 312);
  EXPECT_LE(candidateOpenCount() - opensBefore, 2 * 312);
  EXPECT_TRUE(access("/usr/bin/cupstestppd", X_OK) != 0 ||
              system("cupstestppd -q " VELA_OLD_PPD_DIR "/*.ppd " VELA_PRODUCT_DIR "/ppd/*.ppd.gz") == 0);
}

TEST(ParseDefaultLine, TakesKeywordAndFirstValueWordWithinTheirLimits) {
  std::string value;
  EXPECT_EQ(parseDefaultLine("  junk *DefaultPageSize:Letter  more words\r\n", value), "*PageSize");
  EXPECT_EQ(value, "Letter");
  EXPECT_EQ(parseDefaultLine("*DefaultColorSep: ProcessBlack.60lpi.600dpi/60 lpi\n", value), std::nullopt);
  EXPECT_EQ(parseDefaultLine("*Default" + std::string(100, 'K') + ": " + std::string(100, 'v'), value),
            std::string("*").append(78, 'K'));
  EXPECT_EQ(value, std::string(79, 'v'));
}

// No newline at the end, a line of 1,000 characters, NUL bytes; 10,000 options. No time bound: libcups'
// PPD reader is quadratic in the option count, and a loaded CI host made any bound flaky.
TEST(ProcessNewPPD, UntidyAndHugeInput) {
  const std::string open = "*OpenUI *PageSize: PickOne\n";
  OptionList list;
  addOptList(&list, {"PageSize", "Letter", 1});
  EXPECT_EQ(merge(open + "*DefaultPageSize: A4", "", list), open + "*DefaultPageSize: Letter\n");
  std::string out = merge(open + "*DefaultPageSize: A4 " + std::string(1000, 'y') + "\n" +
                              std::string("*PageSize A4: \"x\0y\"\n*CloseUI: *PageSize\n", 40), "", list);
  EXPECT_TRUE(out.find("*DefaultPageSize: Letter\n") == open.size() && out.ends_with("*CloseUI: *PageSize\n"));
  EXPECT_EQ(out.find('\0'), std::string::npos);
  std::string oldPPD = "*PPD-Adobe: \"4.3\"\n", newPPD;
  for (int i = 0; i < 10000; ++i) {
    const std::string o = "Opt" + std::to_string(i), choices = "\n*" + o + " A: \"\"\n*" + o + " B: \"\"\n*CloseUI: *" + o + "\n";
    oldPPD += "*OpenUI *" + o + ": PickOne\n*Default" + o + ": B" + choices;
    newPPD += "*OpenUI *" + o + ": PickOne\n*Default" + o + ": A" + choices;
  }
  out = merge(newPPD, MemFile(oldPPD).path());
  EXPECT_TRUE(out.find("*DefaultOpt9999: B\n") != std::string::npos && out.find(": A\n") == std::string::npos);
}

int failuresOf(const std::string& ppd) {
  return std::atoi(commandOutput("cupstestppd -W none " + MemFile(ppd).path() + " 2>&1 | grep -c FAIL").c_str());
}

// ppd with its "*Default<keyword>: <from>" line set to the option's first other choice (as CUPS writes a
// user's default), or "".
std::string withOtherDefault(std::string ppd, const std::string& keyword, const std::string& from, std::string& choice) {
  const std::string start = "\n*" + keyword + " ", line = "\n*Default" + keyword + ": " + from;
  for (std::size_t at = ppd.find(start); at != std::string::npos && choice.empty(); at = ppd.find(start, at + 1)) {
    choice = ppd.substr(at + start.size(), ppd.find_first_of("/:\n", at + start.size()) - at - start.size());
    if (choice == from || choice.find(' ') != std::string::npos) choice.clear();
  }
  const std::size_t at = ppd.find(line), end = at + line.size();
  if (choice.empty() || at == std::string::npos || (end < ppd.size() && ppd.find_first_of("\r\n", end) != end)) return "";
  return ppd.replace(end - from.size(), from.size(), choice);
}

// Eight PPDs of the driver's list, copied as "old" PPDs with other "*OpenUI" defaults (where cupstestppd
// judges them no worse), merged into the original: libcups reads every carried default, cupstestppd no worse.
TEST(RealWorldPPDs, MergedPPDKeepsTheOldDefaultsAndStaysValid) {
  const std::string driver = "/usr/lib/cups/driver/openprinting-ppds";
  if (access(driver.c_str(), X_OK) != 0 || system("command -v cupstestppd >/dev/null") != 0) {
    if (std::getenv("CI") != nullptr && std::string(std::getenv("CI")) == "true") FAIL() << "needed on CI";
    GTEST_SKIP() << "openprinting-ppds or cupstestppd is not installed";
  }
  std::istringstream uris(commandOutput(driver + " list 2>/dev/null | awk -F'\"' '{u[NR] = $2} "
                                                 "END {for (i = 0; i < 8; i++) print u[int(i * NR / 8) + 1]}'"));
  int samples = 0, carried = 0;
  for (std::string uri; std::getline(uris, uri); ++samples) {
    const std::string original = commandOutput(driver + " cat '" + uri + "' 2>/dev/null");
    ASSERT_TRUE(original.starts_with("*PPD-Adobe")) << uri;
    const int baseline = failuresOf(original);
    std::map<std::string, std::string> expected = defaultsOf(original);
    std::string old = original;
    for (const auto& [keyword, current] : defaultsOf(original)) {
      std::string choice;
      const std::string changed = withOtherDefault(old, keyword, current, choice);
      if (changed.empty() || original.find("\n*OpenUI *" + keyword) == std::string::npos) continue;
      if (failuresOf(changed) > baseline) continue;
      old = changed;
      expected[keyword] = choice;
      ++carried;
    }
    const std::string merged = merge(original, MemFile(old).path());
    EXPECT_EQ(defaultsOf(merged), expected) << uri;
    EXPECT_LE(failuresOf(merged), baseline) << uri;
  }
  EXPECT_EQ(samples, 8);
  EXPECT_GT(carried, 8);  // the sample really changed defaults
}

}  // namespace
