// The PPD data in process: the model table, the product's PPDs, and the option
// merge on untidy, huge and real-world (Debian's openprinting-ppds) input.
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "printers/model_table.h"
#include "printers/ppd_merge.h"
#include "printers/printer_list.h"

namespace {

const std::string kFixtures = VELA_SOURCE_DIR "/tests/printers/fixtures/";

// A file that lives only in memory, reached by its /proc path so that libcups
// and child programs can open it.
struct MemFile {
  explicit MemFile(const std::string& text) { EXPECT_EQ(write(fd, text.data(), text.size()), ssize_t(text.size())); }
  ~MemFile() { close(fd); }
  MemFile(const MemFile&) = delete;
  std::string path() const { return "/proc/self/fd/" + std::to_string(fd); }
  const int fd = memfd_create("vela-test", 0);
};

std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string commandOutput(const std::string& command) {
  std::string text;
  std::FILE* pipe = popen(command.c_str(), "r");
  char buffer[8192];
  for (std::size_t n; pipe != nullptr && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  if (pipe != nullptr) pclose(pipe);
  return text;
}

// processNewPPD over newPPD with the old defaults of oldPath: output and log.
std::pair<std::string, std::string> merge(const std::string& newPPD, const std::string& oldPath, OptionList list = {}) {
  int count = static_cast<int>(list.entries.size());
  if (!oldPath.empty()) readOldDefaults(oldPath, list, count);
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* in = fmemopen(const_cast<char*>(newPPD.data()), newPPD.size(), "r");
  std::FILE* out = open_memstream(&buffer, &size);
  testing::internal::CaptureStderr();
  EXPECT_EQ(processNewPPD(in, out, list, count), 0);
  std::string log = testing::internal::GetCapturedStderr();
  std::fclose(in);
  std::fclose(out);
  std::string output(buffer, size);
  free(buffer);
  return {output, log};
}

std::map<std::string, std::string> defaultsOf(const std::string& ppd) {
  OptionList list;
  int count = 0;
  readOldDefaults(MemFile(ppd).path(), list, count);
  std::map<std::string, std::string> defaults;
  for (const OptionEntry& entry : list.entries) defaults.emplace(entry.keyword, entry.defaultChoice);
  return defaults;
}

// 312 rows, names of at most 28 characters, ids 1 to 311 with two of them on
// two rows each; a model text gets the id of the first row contained in it,
// and two names are contained in later, longer ones.
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

// Both generations pass cupstestppd, and the queue search finds the compressed
// current PPD of each previous-generation one, reading each PPD once.
TEST(ProductPPDs, NewPPDOfEachOldOneIsFound) {
  const std::string currentDir = VELA_PRODUCT_DIR "/ppd";
  const long opensBefore = candidateOpenCount();
  ASSERT_EQ(std::distance(std::filesystem::directory_iterator(VELA_OLD_PPD_DIR), {}), 312);
  for (const auto& entry : std::filesystem::directory_iterator(VELA_OLD_PPD_DIR)) {
    const std::string name = entry.path().filename();
    PrinterEntry queue;
    queue.modelText = getPPDModel(entry.path(), queue.pdlKind, queue.modelId).value_or("");
    std::string found;
    EXPECT_EQ(findPPDInDir(currentDir, queue, found), 1) << name;
    EXPECT_EQ(found, currentDir + "/" + name + ".gz");
  }
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
            "*" + std::string(78, 'K'));
  EXPECT_EQ(value, std::string(79, 'v'));
}

// Old defaults replace the new PPD's inside option blocks; an option only in
// the new PPD, "*DefaultColorSep" and the JCL block keep theirs.
TEST(ProcessNewPPD, CarriesOldDefaultsIntoTheOptionBlocks) {
  const auto [output, log] = merge(readWholeFile(kFixtures + "tessel_new.ppd"), kFixtures + "tessel_old.ppd");
  EXPECT_EQ(output, readWholeFile(kFixtures + "tessel_merged.ppd"));
  EXPECT_NE(log.find("processNewPPD(nOptions=6)\n"), std::string::npos);
  EXPECT_NE(log.find("processNewPPD: Setting new option: *PageSize/Letter.\n"), std::string::npos);
  EXPECT_EQ(log.find("*JCLEconomode"), std::string::npos) << log;
}

// No newline at the end, a line of 1,000 characters, NUL bytes.
TEST(ProcessNewPPD, UntidyInput) {
  OptionList list;
  addOptList(&list, {"PageSize", "Letter", 1});
  const std::string open = "*OpenUI *PageSize: PickOne\n";
  EXPECT_EQ(merge(open + "*DefaultPageSize: A4", "", list).first, open + "*DefaultPageSize: Letter\n");
  const std::string out = merge(open + "*DefaultPageSize: A4 " + std::string(1000, 'y') + "\n" +
                                    std::string("*PageSize A4: \"x\0y\"\n*CloseUI: *PageSize\n", 40), "", list).first;
  EXPECT_EQ(out.find("*DefaultPageSize: Letter\n"), open.size());
  EXPECT_TRUE(out.ends_with("*CloseUI: *PageSize\n")) << out;
  EXPECT_EQ(out.find('\0'), std::string::npos);
}

TEST(ProcessNewPPD, TenThousandOptionsStayFast) {
  std::string oldPPD = readWholeFile(kFixtures + "tessel_old.ppd"), newPPD;
  for (int i = 0; i < 10000; ++i) {
    const std::string o = "Opt" + std::to_string(i);
    const std::string choices = "\n*" + o + " A: \"\"\n*" + o + " B: \"\"\n*CloseUI: *" + o + "\n";
    oldPPD += "*OpenUI *" + o + ": PickOne\n*Default" + o + ": B" + choices;
    newPPD += "*OpenUI *" + o + ": PickOne\n*Default" + o + ": A" + choices;
  }
  const auto start = std::chrono::steady_clock::now();
  const std::string out = merge(newPPD, MemFile(oldPPD).path()).first;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_NE(out.find("*DefaultOpt9999: B\n"), std::string::npos);
  EXPECT_EQ(out.find(": A\n"), std::string::npos);
}

int failuresOf(const std::string& ppd) {
  return std::stoi("0" + commandOutput("cupstestppd -W none " + MemFile(ppd).path() + " 2>&1 | grep -c FAIL"));
}

// ppd with the "*Default<keyword>: <from>" lines set to the option's first
// other choice (as CUPS writes a default that a user chose), or "".
std::string withOtherDefault(const std::string& ppd, const std::string& keyword, const std::string& from,
                             std::string& choice) {
  const std::string start = "\n*" + keyword + " ";
  for (std::size_t at = ppd.find(start); at != std::string::npos && choice.empty(); at = ppd.find(start, at + 1)) {
    choice = ppd.substr(at + start.size(), ppd.find_first_of("/:\n", at + start.size()) - at - start.size());
    if (choice == from || choice.find(' ') != std::string::npos) choice.clear();
  }
  const std::regex special(R"([.^$|()\[\]{}*+?\\])");
  const std::string line = std::regex_replace("\n*Default" + keyword + ": " + from, special, R"(\$&)");
  const std::string changed =
      std::regex_replace(ppd, std::regex(line + "(?=\r?\n|$)"), "\n*Default" + keyword + ": " + choice);
  return choice.empty() || changed == ppd ? "" : changed;
}

// Eight PPDs of the driver's list, each copied as an "old" PPD with another
// default for every "*OpenUI" option (where cupstestppd judges that no worse)
// and merged into the original: libcups must read every carried default back,
// and cupstestppd must judge the result no worse.
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
    const std::string merged = merge(original, MemFile(old).path()).first;
    EXPECT_EQ(defaultsOf(merged), expected) << uri;
    EXPECT_LE(failuresOf(merged), baseline) << uri;
  }
  EXPECT_EQ(samples, 8);
  EXPECT_GT(carried, 8);  // the sample really changed defaults
}

}  // namespace
