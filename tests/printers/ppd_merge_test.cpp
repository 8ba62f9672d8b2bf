// The PPD data in process: the model table, the product's PPDs, the option merge on small, untidy and huge
// input. Real-world PPDs are merged against the real scheduler in the corpus test.
#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "printers/model_table.h"
#include "printers/ppd_merge.h"
#include "printers/printer_list.h"
#include "text_checks.h"

namespace {

struct Merged { std::string ppd, log; };

// processNewPPD over newPPD with the old defaults of oldPPD: the merged PPD, and its log
// (stderr while no log is open) followed by a "decision:" line for each decision as the run's report tells it.
Merged merge(const std::string& newPPD, const std::string& oldPPD) {
  OptionList list;
  int count = 0;
  const int fd = memfd_create("vela-test", 0);  // a file only in memory, its /proc path for libcups
  EXPECT_EQ(write(fd, oldPPD.data(), oldPPD.size()), ssize_t(oldPPD.size()));
  readOldDefaults("/proc/self/fd/" + std::to_string(fd), list, count);
  close(fd);
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE *in = fmemopen(const_cast<char*>(newPPD.data()), newPPD.size(), "r"), *out = open_memstream(&buffer, &size);
  MergeDecisions decisions;
  testing::internal::CaptureStderr();
  EXPECT_EQ(processNewPPD(in, out, list, count, &decisions), 0);
  Merged merged{"", testing::internal::GetCapturedStderr()};
  std::fclose(in);
  std::fclose(out);
  merged.ppd.assign(buffer, size);
  free(buffer);
  for (const SettingDecision& d : decisions) {
    merged.log += "decision:" + d.option + "=" + d.value + (d.carried ? " carried" : " not carried") +
                  (d.newDefault.empty() ? "" : " as " + d.newDefault) +
                  (d.reason.empty() ? "" : " (" + d.reason + ")") + "\n";
  }
  return merged;
}

// A PPD of the given option blocks: each "Keyword=Default:Choice,Choice" becomes an "*OpenUI" block (a "JCL"
// keyword a "*JCLOpenUI" one); extra lines are added as they are.
std::string ppdOf(const std::vector<std::string>& blocks, const std::string& extra = "") {
  std::string ppd = "*PPD-Adobe: \"4.3\"\n" + extra;
  for (const std::string& block : blocks) {
    const std::size_t eq = block.find('='), colon = block.find(':');
    const std::string keyword = block.substr(0, eq), jcl = keyword.starts_with("JCL") ? "JCL" : "";
    ppd += "*" + jcl + "OpenUI *" + keyword + ": PickOne\n*Default" + keyword + ": " +
           block.substr(eq + 1, colon - eq - 1) + "\n";
    std::istringstream choices(block.substr(colon + 1));
    for (std::string choice; std::getline(choices, choice, ',');) ppd += "*" + keyword + " " + choice + ": \"\"\n";
    ppd += "*" + jcl + "CloseUI: *" + keyword + "\n";
  }
  return ppd;
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
  EXPECT_EQ(std::pair(rowsPerId.begin()->first, rowsPerId.rbegin()->first), std::pair(1, 311));
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

// No newline at the end, a line of 1,000 characters, NUL bytes; 3,000 options, more than any real PPD has.
// No time bound: libcups' PPD reader is quadratic in the option count, which made any bound flaky.
TEST(ProcessNewPPD, UntidyAndHugeInput) {
  const std::string open = "*OpenUI *PageSize: PickOne\n*PageSize Letter: \"\"\n";
  const std::string letter = ppdOf({"PageSize=Letter:Letter"});  // the old default
  EXPECT_EQ(merge(open + "*DefaultPageSize: A4", letter).ppd, open + "*DefaultPageSize: Letter\n");
  const std::string out = merge(open + "*DefaultPageSize: A4 " + std::string(1000, 'y') + "\n" +
                                    std::string("*PageSize A4: \"x\0y\"\n*CloseUI: *PageSize\n", 40), letter).ppd;
  EXPECT_TRUE(out.find("*DefaultPageSize: Letter\n") == open.size() && out.ends_with("*CloseUI: *PageSize\n") &&
              out.find('\0') == std::string::npos) << out;
  std::vector<std::string> blocks;
  for (int i = 0; i < 3000; ++i) blocks.push_back("Opt" + std::to_string(i) + "=A:A,B");
  std::string oldPPD = ppdOf(blocks);  // each default B
  for (std::size_t at = 0; (at = oldPPD.find(": A\n", at)) != std::string::npos;) oldPPD[at + 2] = 'B';
  const std::string huge = merge(ppdOf(blocks), oldPPD).ppd;
  EXPECT_TRUE(has(huge, "*DefaultOpt2999: B\n") && !has(huge, ": A\n"));
}

// The merge's rules for what the new PPD offers: JCL blocks, custom sizes and values, dropped choices, the geometry
// that follows a carried page size, dropped options, renamed sizes, added constraints. Most rows tell a page-size
// story and an independent one of other options. Merging again with the merged PPD's defaults changes nothing.
TEST(ProcessNewPPD, CarriesWhatTheNewPPDOffersAndNamesWhatItDoesNot) {
  const std::string envelopes = "*PaperDimension Letter: \"612 792\"\n*PaperDimension Comm10: \"297 684\"\n"
                                "*PaperDimension Envelope.312.624: \"312 624\"\n*PaperDimension EnvC5x: \"459 651\"\n"
                                "*PaperDimension FanFoldGermanLegal: \"612 936\"\n";
  const std::string newSizes = "PageSize=Letter:Letter,Comm10,Envelope.312.624,EnvC5x,FanFoldGermanLegal";
  const std::string duplex = "Duplex=None:None,DuplexTumble", tumble = "Duplex=DuplexTumble:None,DuplexTumble";
  // Tumbling needs the installable Option2, the constraint written both ways round.
  const std::string installable = "*UIConstraints: *Duplex DuplexTumble *Option2 False\n"
                                  "*UIConstraints: *Option2 False *Duplex DuplexTumble\n"
                                  "*OpenGroup: InstallableOptions/Options\n" +
                                  ppdOf({"Option2=False:False,True"}).substr(18) + "*CloseGroup: InstallableOptions\n";
  const std::string filmConflict = "*UIConstraints: *Duplex DuplexTumble *MediaType Film\n";
  const std::string noTumble = "Duplex=DuplexNoTumble:None,DuplexNoTumble";
  const std::string customSize = "*CustomPageSize True: \"x\"\n", customPin = "*CustomPin True: \"x\"\n";
  // A custom page size forbidden with DuplexNoTumble, the custom size named first or second.
  const std::string customFirst = customSize + "*NonUIConstraints: *CustomPageSize True *Duplex DuplexNoTumble\n",
                    customSecond = customSize + "*NonUIConstraints: *Duplex DuplexNoTumble *CustomPageSize True\n";
  const std::string geometry = "*DefaultImageableArea: A4\n*ImageableArea A4: \"0 0 1 1\"\n*ImageableArea Letter: "
                               "\"0 0 1 1\"\n*DefaultPaperDimension: A4\n*PaperDimension A4: \"1 1\"\n";
  // Default lines of 254 and 255 characters without the blank after the colon: with it, only the first fits a line.
  const std::string custom = "*CustomUserCode True: \"x\"\n*CustomPassword True: \"x\"\n";
  const std::string fits = "Custom." + std::string(230, '7'), tooLong = "Custom." + std::string(231, '7');
  std::string unspaced = ppdOf({"UserCode=" + tooLong + ":None", "Password=" + fits + ":None"}, custom);
  for (std::size_t at; (at = unspaced.find(": Custom.")) != std::string::npos;) unspaced.erase(at + 1, 1);
  // Checks: "Keyword=Value" a default line of the output, "*..." in it, "!..." not; "log:"/"decision:" in the log.
  const struct { std::string oldPPD, newPPD; std::vector<std::string> checks; } cases[] = {
      {ppdOf({"JCLEconomode=On:On,Off", "PageSize=Custom.300x400:A4,Letter", "UserCode=Custom.M\xfcller:None",
              "Password=Custom.1234:None", "Pin=Custom.12\x01\x1c" "34:None", "MediaType=Glossy:Plain,Glossy", duplex},
             customSize + custom + customPin),
       ppdOf({"JCLEconomode=Off:On,Off", "PageSize=A4:A4,Letter", "UserCode=None:None,1001", "Password=None:None",
              "Pin=None:None", "MediaType=Plain:Plain,Bond"}, "*CustomUserCode True/Code: \"x\"\n" + customPin),
       {"JCLEconomode=On", "*JCLCloseUI: *JCLEconomode\n", "log:Setting new option: *JCLEconomode/On.", "PageSize=A4",
        "log:processNewPPD: Keeping new default: *PageSize/A4 (Custom.300x400 is not offered by the new PPD).\n",
        "UserCode=Custom.M\xfcller", "Password=None", "log:*Password/None (Custom.1234 is not offered", "Pin=None",
        "log:*Pin/None (Custom.12\x01\x1c" "34 is not", "MediaType=Plain", "!Glossy",
        "log:Keeping new default: *MediaType/Plain (Glossy is not offered by the new PPD).\n",
        "log:processNewPPD: Dropping old default: *Duplex/None (the new PPD has no default line for it).\n"}},
      {ppdOf({"PageSize=Custom.300x400:A4,Letter", "PageRegion=A4:A4,Letter", tumble}, customSize),
       ppdOf({"PageSize=A4:A4,Letter", "PageRegion=A4:A4,Letter", duplex}, customSize + geometry + installable),
       {"PageSize=Custom.300x400", "PageRegion=A4", "ImageableArea=A4", "Duplex=DuplexTumble", "Option2=True",
        "decision:Duplex=DuplexTumble carried",
        "log:processNewPPD: Turning on installable option: *Option2/True (needed by *Duplex DuplexTumble).\n"}},
      {unspaced, ppdOf({"UserCode=None:None", "Password=None:None"}, custom),
       {"UserCode=None", "Password=" + fits, "!" + tooLong,
        "log:Keeping new default: *UserCode/None (" + tooLong + " is not offered by the new PPD).\n"}},
      {ppdOf({"PageSize=Letter:A4,Letter", "PageRegion=A4:A4,Letter", tumble}),
       ppdOf({"PageSize=A4:A4,Letter", "PageRegion=A4:A4,Letter", duplex, "MediaType=Film:Plain,Film"},
             geometry + "*DefaultPaperDimension: A4\n" + filmConflict),
       {"PageSize=Letter", "PageRegion=Letter", "ImageableArea=Letter", "!*DefaultPaperDimension: Letter",
        "!*DefaultImageableArea: A4", "log:Setting new option: *ImageableArea/Letter.", "Duplex=None", "MediaType=Film",
        "decision:Duplex=DuplexTumble not carried as None (conflicts with *MediaType Film of the new PPD)",
        "log:processNewPPD: Keeping new default: *Duplex/None (DuplexTumble conflicts with *MediaType Film of the "
        "new PPD).\n"}},
      {ppdOf({"PageSize=Legal:A4,Legal", tumble, "MediaType=Film:Plain,Film"}),
       ppdOf({"PageSize=A4:A4", "Duplex=DuplexNoTumble:None,DuplexNoTumble,DuplexTumble", "MediaType=Plain:Plain,Film"},
             "*PageSize Letter: \"\"\n*PageSize Legal: \"\"\n" + geometry +
                 "*cupsUIConstraints FilmOneSided: \"*Duplex DuplexTumble *MediaType Film\"\n"
                 "*cupsUIResolver FilmOneSided: \"*Duplex None\"\n"),
       {"PageSize=Legal", "ImageableArea=A4", "PaperDimension=A4", "Duplex=None", "MediaType=Film",
        "log:processNewPPD: Taking the resolver's choice: *Duplex/None (DuplexTumble conflicts with *MediaType Film; "
        "*cupsUIResolver FilmOneSided).\n"}},
      {ppdOf({"PageSize=Env10:Letter,Env10", "PageRegion=Env10:Letter,Env10", tumble, "InputSlot=Tray2:Tray1,Tray2",
              "Collate=True:False,True"}, "*PaperDimension Env10: \"297 684\"\n"),
       ppdOf({newSizes, "PageRegion=Letter:Letter,Comm10", duplex, "InputSlot=Tray1:Tray1,Tray2",
              "Collate=False:False,True"},
             envelopes + "*cupsUIConstraints: \"*InputSlot Tray2 *Collate True *Duplex\"\n"),
       {"PageSize=Comm10", "PageRegion=Comm10", "InputSlot=Tray2", "Collate=True", "Duplex=None",
        "log:processNewPPD: Setting new option: *PageSize/Comm10 (Env10 by its dimensions).\n",
        "decision:PageSize=Env10 carried as Comm10 (by its dimensions)",
        "decision:PageRegion=Env10 carried as Comm10 (by its dimensions)"}},
      {ppdOf({"PageSize=EnvDL:EnvDL", tumble, "MediaType=Film:Plain,Film"}, filmConflict),
       ppdOf({newSizes, duplex, "MediaType=Plain:Plain,Film"}, envelopes + filmConflict),
       {"PageSize=Envelope.312.624", "Duplex=DuplexTumble", "MediaType=Film"}},
      {ppdOf({"PageSize=8.5x13:8.5x13"}), ppdOf({newSizes, "MediaType=Glossy:Plain,Glossy", tumble},
                                                envelopes + "*UIConstraints: *MediaType Glossy *Duplex\n"),
       {"PageSize=FanFoldGermanLegal", "MediaType=Glossy", "Duplex=DuplexTumble"}},
      {ppdOf({"PageSize=EnvC5:EnvC5"}, "*PaperDimension EnvC5: \"459 649\"\n"), ppdOf({newSizes}, envelopes),
       {"PageSize=Letter", "log:*PageSize/Letter (EnvC5 is not offered by the new PPD)", "!EnvC5x\n"}},
      {ppdOf({"PageSize=EnvMonarch:EnvMonarch", "PageRegion=EnvMonarch:EnvMonarch", tumble}),
       ppdOf({"PageSize=Letter:Letter,Monarch", "PageRegion=Letter:Letter,Monarch", tumble},
             "*UIConstraints: *Duplex DuplexTumble *PageSize Monarch\n*PaperDimension Monarch: \"279 540\"\n"),
       {"PageSize=Letter", "PageRegion=Letter", "Duplex=DuplexTumble",
        "decision:PageRegion=EnvMonarch not carried as Letter (follows the page size Letter)",
        "log:*PageSize/Letter (EnvMonarch as Monarch conflicts with *Duplex DuplexTumble of the new PPD)"}},
      {ppdOf({"PageSize=EnvMonarch:EnvMonarch", "PageRegion=EnvMonarch:EnvMonarch", tumble}),
       ppdOf({"PageSize=Letter:Letter,EnvMonarch", "PageRegion=Letter:Letter,EnvMonarch", duplex},
             "*UIConstraints: *Duplex DuplexTumble *PageSize EnvMonarch\n"),
       {"PageSize=EnvMonarch", "PageRegion=EnvMonarch", "Duplex=None",
        "decision:Duplex=DuplexTumble not carried as None (conflicts with *PageSize EnvMonarch)",
        "log:*Duplex/None (DuplexTumble conflicts with *PageSize EnvMonarch)."}},
      {ppdOf({"PageSize=Custom.300x400:A4", noTumble}, customSize),
       ppdOf({"PageSize=A4:A4", duplex + ",DuplexNoTumble"}, customFirst),
       {"PageSize=Custom.300x400", "Duplex=None",
        "decision:Duplex=DuplexNoTumble not carried as None (conflicts with *PageSize Custom.300x400)"}},
      {ppdOf({"PageSize=Custom.300x400:A4"}, customSize), ppdOf({"PageSize=A4:A4", noTumble}, customSecond),
       {"PageSize=A4", "Duplex=DuplexNoTumble",
        "log:*PageSize/A4 (Custom.300x400 conflicts with *Duplex DuplexNoTumble of the new PPD)."}},
  };
  for (const auto& c : cases) {
    const auto [out, log] = merge(c.newPPD, c.oldPPD);
    for (const std::string& check : c.checks) {
      const bool inLog = check.starts_with("log:") || check.starts_with("decision:"), absent = check.starts_with("!");
      std::string text = check.substr(check.starts_with("log:") ? 4 : absent ? 1 : 0);
      if (!inLog && !absent && check[0] != '*') text = "*Default" + text.replace(text.find('='), 1, ": ") + "\n";
      EXPECT_EQ(has(inLog ? log : out, text), !absent) << check << "\n" << out << log;
    }
    EXPECT_EQ(merge(c.newPPD, out).ppd, out);
  }
}

}  // namespace
