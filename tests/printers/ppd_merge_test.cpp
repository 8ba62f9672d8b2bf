// The PPD option merge in process: which "*Default" lines are rewritten and
// how, the old defaults that libcups yields, and input that is not a tidy PPD.
#include <chrono>
#include <optional>

#include "ppd_merge_support.h"

namespace {

const std::string kFixtures = VELA_SOURCE_DIR "/tests/printers/fixtures/";

OptionList listOf(std::initializer_list<std::pair<const char*, const char*>> options) {
  OptionList list;
  int index = 0;
  for (const auto& [keyword, choice] : options) addOptList(&list, {keyword, choice, ++index});
  return list;
}

struct ParseCase {
  const char* line;
  std::optional<std::string> keyword;
  std::string value;
};

TEST(ParseDefaultLine, TakesKeywordAndFirstValueWord) {
  const std::string longName(100, 'K');
  const std::string longValue(100, 'v');
  const ParseCase cases[] = {
      {"*DefaultPageSize: A4\n", "*PageSize", "A4"},
      {"*DefaultPageSize: Letter  more words\n", "*PageSize", "Letter"},
      {"*DefaultResolution:600dpi\r\n", "*Resolution", "600dpi"},
      {"*DefaultDuplex\n", "*Duplex", ""},
      {"*DefaultDuplex:   \n", "*Duplex", ""},
      {"*DefaultX: \tTab\tbed x\n", "*X", "\tTab\tbed"},
      {"  junk *DefaultInputSlot: Tray1\n", "*InputSlot", "Tray1"},
      {"*DefaultColorSep: ProcessBlack.60lpi.600dpi/60 lpi\n", std::nullopt, ""},
      {"*PageSize A4/A4: \"<</PageSize[595 842]>>\"\n", std::nullopt, ""},
      {"*% Default is A4\n", std::nullopt, ""},
  };
  for (const ParseCase& c : cases) {
    std::string value = "stale";
    EXPECT_EQ(parseDefaultLine(c.line, value), c.keyword) << c.line;
    if (c.keyword) {
      EXPECT_EQ(value, c.value) << c.line;
    }
  }
  std::string value;
  EXPECT_EQ(parseDefaultLine("*Default" + longName + ": " + longValue, value), "*" + longName.substr(0, 78));
  EXPECT_EQ(value, longValue.substr(0, 79));
}

TEST(FindOption, FirstEntryOfTheKeywordWithoutItsStar) {
  const OptionList list = listOf({{"PageSize", "Letter"}, {"InputSlot", "Tray2"}, {"PageSize", "A4"}});
  ASSERT_NE(findOption(&list, "*PageSize"), nullptr);
  EXPECT_EQ(findOption(&list, "*PageSize")->defaultChoice, "Letter");
  EXPECT_EQ(findOption(&list, "*InputSlot")->index, 2);
  EXPECT_EQ(findOption(&list, "PageSize"), nullptr);
  EXPECT_EQ(findOption(&list, "*pagesize"), nullptr);
  EXPECT_EQ(findOption(&list, ""), nullptr);
  EXPECT_EQ(findOption(nullptr, "*PageSize"), nullptr);

  OptionList emptied = list;
  EXPECT_EQ(freeOptList(emptied), 0);
  EXPECT_EQ(findOption(&emptied, "*PageSize"), nullptr);
}

TEST(AddOptList, WithoutAListEndsTheProcess) {
  EXPECT_EXIT(addOptList(nullptr, newOptEntry()), testing::ExitedWithCode(1), "addOptList\\(NULL,...\\) Error!");
}

TEST(ReadOldDefaults, TopLevelOptionsWhoseDefaultIsAChoice) {
  OptionList list;
  int count = 0;
  EXPECT_EQ(readOldDefaults(kFixtures + "tessel_old.ppd", list, count), 6);
  EXPECT_EQ(count, 6);
  std::vector<std::string> seen;
  for (const OptionEntry& entry : list.entries) {
    seen.push_back(entry.keyword + "=" + entry.defaultChoice + "#" + std::to_string(entry.index));
  }
  // libcups files sub-group options under their group; Density's default
  // names none of its choices.
  EXPECT_EQ(seen, (std::vector<std::string>{"PageSize=Letter#1", "PageRegion=Letter#2", "InputSlot=Tray2#3",
                                             "Resolution=300dpi#4", "Smoothing=True#5", "JCLEconomode=On#6"}));
}

TEST(ReadOldDefaults, FileThatIsNoPPDLeavesCountAlone) {
  const MemFile notPPD(std::string("\x1f\x8b\0\0garbage", 11));
  const MemFile missing("");
  for (const std::string& path : {notPPD.path(), missing.path(), std::string("/nonexistent/x.ppd")}) {
    OptionList list;
    int count = 7;
    testing::internal::CaptureStderr();
    EXPECT_EQ(readOldDefaults(path, list, count), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Unable to open '" + path + "' as a PPD file!\n");
    EXPECT_EQ(count, 7);
    EXPECT_TRUE(list.entries.empty());
  }
}

TEST(ProcessNewPPD, CarriesOldDefaultsIntoTheOptionBlocks) {
  OptionList list;
  int count = 0;
  readOldDefaults(kFixtures + "tessel_old.ppd", list, count);
  const MergeResult merged = mergeText(readWholeFile(kFixtures + "tessel_new.ppd"), list, count);
  EXPECT_EQ(merged.output, readWholeFile(kFixtures + "tessel_merged.ppd"));
  EXPECT_NE(merged.log.find("processNewPPD(nOptions=6)\n"), std::string::npos);
  EXPECT_NE(merged.log.find("processNewPPD: Setting new option: *PageSize/Letter.\n"), std::string::npos);
  EXPECT_NE(merged.log.find("processNewPPD: Setting new option: *Resolution/300dpi.\n"), std::string::npos);
  EXPECT_EQ(merged.log.find("*JCLEconomode"), std::string::npos) << merged.log;
}

TEST(ProcessNewPPD, BlockRulesOnSmallInputs) {
  const OptionList list = listOf({{"PageSize", "Letter"}, {"Duplex", ""}, {"InputSlot", "Manual"}});
  const std::string longLine = "*% " + std::string(997, 'x') + "\n";
  const std::pair<std::string, std::string> cases[] = {
      // No block at all: copied as it is, long lines included.
      {"*DefaultPageSize: A4\n" + longLine, "*DefaultPageSize: A4\n" + longLine},
      // An old default that the new PPD does not offer is written all the same.
      {"*OpenUI *InputSlot: PickOne\n*DefaultInputSlot: Tray1\n*CloseUI: *InputSlot\n",
       "*OpenUI *InputSlot: PickOne\n*DefaultInputSlot: Manual\n*CloseUI: *InputSlot\n"},
      // An empty old default keeps the line's own value.
      {"*OpenUI *Duplex: PickOne\n*DefaultDuplex: None\n*CloseUI: *Duplex\n",
       "*OpenUI *Duplex: PickOne\n*DefaultDuplex: None\n*CloseUI: *Duplex\n"},
      // After *CloseUI the defaults are outside again.
      {"*OpenUI *A: PickOne\n*CloseUI: *A\n*DefaultPageSize: A4\n",
       "*OpenUI *A: PickOne\n*CloseUI: *A\n*DefaultPageSize: A4\n"},
      // No final newline, and a block that is never closed.
      {"*OpenUI *PageSize: PickOne\n*DefaultPageSize: A4", "*OpenUI *PageSize: PickOne\n*DefaultPageSize: Letter\n"},
  };
  for (const auto& [input, expected] : cases) EXPECT_EQ(mergeText(input, list, 3).output, expected) << input;
}

TEST(ProcessNewPPD, NulBytesAndOverlongLinesDoNotBreakTheMerge) {
  const OptionList list = listOf({{"PageSize", "Letter"}});
  std::string input = "*OpenUI *PageSize: PickOne\n*DefaultPageSize: A4 ";
  input += std::string(600, 'y') + "*DefaultPageSize: B5\n";
  input += std::string("*PageSize A4: \"x\0y\"\n", 20) + "*CloseUI: *PageSize\n*End\n";
  const std::string out = mergeText(input, list, 1).output;
  // The 255-character piece that holds a second "*Default" is rewritten too.
  EXPECT_EQ(out.find("*DefaultPageSize: Letter\n"), 27u);
  EXPECT_NE(out.find("*CloseUI: *PageSize\n*End\n"), std::string::npos);
  EXPECT_EQ(out.find('\0'), std::string::npos);
}

TEST(ProcessNewPPD, TenThousandOptionsStayFast) {
  std::string oldPPD = readWholeFile(kFixtures + "tessel_old.ppd");
  std::string newPPD;
  for (int i = 0; i < 10000; ++i) {
    const std::string name = "Opt" + std::to_string(i);
    const auto block = [&](const char* choice) {
      return "*OpenUI *" + name + ": PickOne\n*Default" + name + ": " + choice + "\n*" + name + " A: \"\"\n*" + name +
             " B: \"\"\n*CloseUI: *" + name + "\n";
    };
    oldPPD += block("B");
    newPPD += block("A");
  }
  const MemFile oldFile(oldPPD);
  OptionList list;
  int count = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(readOldDefaults(oldFile.path(), list, count), 10006);
  const MergeResult merged = mergeText(newPPD, list, count);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(merged.output.find("*DefaultOpt"), merged.output.find("*DefaultOpt0: B\n"));
  EXPECT_NE(merged.output.find("*DefaultOpt9999: B\n"), std::string::npos);
  EXPECT_EQ(merged.output.find(": A\n"), std::string::npos);
}

}  // namespace
