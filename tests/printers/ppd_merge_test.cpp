// The PPD data in process: the model table, the product's PPDs, and the option
// merge's rules on small, untidy and huge input. Real-world PPDs are merged
// against the real scheduler in the corpus test.
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

// processNewPPD over newPPD with the old defaults of oldPath; its log (stderr while no log is open) into log.
std::string merge(const std::string& newPPD, const std::string& oldPath, OptionList list = {}, std::string* log = nullptr,
                  MergeDecisions* decisions = nullptr) {
  int count = static_cast<int>(list.entries.size());
  if (!oldPath.empty()) readOldDefaults(oldPath, list, count);
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE *in = fmemopen(const_cast<char*>(newPPD.data()), newPPD.size(), "r"), *out = open_memstream(&buffer, &size);
  testing::internal::CaptureStderr();
  EXPECT_EQ(processNewPPD(in, out, list, count, decisions), 0);
  const std::string captured = testing::internal::GetCapturedStderr();
  if (log != nullptr) *log = captured;
  std::fclose(in);
  std::fclose(out);
  const std::string output(buffer, size);
  free(buffer);
  return output;
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

// No newline at the end, a line of 1,000 characters, NUL bytes; 3,000 options, more than any real PPD
// has. No time bound: libcups' PPD reader is quadratic in the option count (the sanitizers' allocator
// more so), and a loaded CI host made any bound flaky.
TEST(ProcessNewPPD, UntidyAndHugeInput) {
  const std::string open = "*OpenUI *PageSize: PickOne\n*PageSize Letter: \"\"\n";
  OptionList list;
  addOptList(&list, {"PageSize", "Letter", 1});
  EXPECT_EQ(merge(open + "*DefaultPageSize: A4", "", list), open + "*DefaultPageSize: Letter\n");
  std::string out = merge(open + "*DefaultPageSize: A4 " + std::string(1000, 'y') + "\n" +
                              std::string("*PageSize A4: \"x\0y\"\n*CloseUI: *PageSize\n", 40), "", list);
  EXPECT_TRUE(out.find("*DefaultPageSize: Letter\n") == open.size() && out.ends_with("*CloseUI: *PageSize\n") &&
              out.find('\0') == std::string::npos) << out;
  std::string oldPPD = "*PPD-Adobe: \"4.3\"\n", newPPD;
  for (int i = 0; i < 3000; ++i) {
    const std::string o = "Opt" + std::to_string(i), choices = "\n*" + o + " A: \"\"\n*" + o + " B: \"\"\n*CloseUI: *" + o + "\n";
    oldPPD += "*OpenUI *" + o + ": PickOne\n*Default" + o + ": B" + choices;
    newPPD += "*OpenUI *" + o + ": PickOne\n*Default" + o + ": A" + choices;
  }
  out = merge(newPPD, MemFile(oldPPD).path());
  EXPECT_TRUE(out.find("*DefaultOpt2999: B\n") != std::string::npos && out.find(": A\n") == std::string::npos);
}

// A PPD of the given option blocks: each "Keyword=Default:Choice,Choice" becomes an "*OpenUI" block (a "JCL"
// keyword a "*JCLOpenUI" one); extra lines are added as they are.
std::string ppdOf(std::initializer_list<std::string> blocks, const std::string& extra = "") {
  std::string ppd = "*PPD-Adobe: \"4.3\"\n" + extra;
  for (const std::string& block : blocks) {
    const std::size_t eq = block.find('='), colon = block.find(':');
    const std::string keyword = block.substr(0, eq), jcl = keyword.starts_with("JCL") ? "JCL" : "";
    ppd += "*" + jcl + "OpenUI *" + keyword + ": PickOne\n*Default" + keyword + ": " + block.substr(eq + 1, colon - eq - 1) + "\n";
    std::istringstream choices(block.substr(colon + 1));
    for (std::string choice; std::getline(choices, choice, ',');) ppd += "*" + keyword + " " + choice + ": \"\"\n";
    ppd += "*" + jcl + "CloseUI: *" + keyword + "\n";
  }
  return ppd;
}

// "decision:" and the decision as the run's report tells it.
std::string told(const SettingDecision& d) {
  return "decision:" + d.option + "=" + d.value + (d.carried ? " carried" : " not carried") +
         (d.newDefault.empty() ? "" : " as " + d.newDefault) + (d.reason.empty() ? "" : " (" + d.reason + ")");
}

// The merge's rules for what the new PPD offers: JCL blocks, custom sizes and values, choices it dropped, the
// page geometry that follows a carried page size, options it no longer has, sizes it names differently, and
// constraints it adds. Merging the new PPD again with the merged PPD's defaults changes nothing.
TEST(ProcessNewPPD, CarriesWhatTheNewPPDOffersAndNamesWhatItDoesNot) {
  const auto dimension = [](const std::string& size, const char* points) {
    return "*PaperDimension " + size + ": \"" + points + "\"\n";
  };
  const std::string envelopes = dimension("Letter", "612 792") + dimension("Comm10", "297 684") +
      dimension("Envelope.312.624", "312 624") + dimension("EnvC5x", "459 651") + dimension("FanFoldGermanLegal", "612 936");
  const std::string newSizes = "PageSize=Letter:Letter,Comm10,Envelope.312.624,EnvC5x,FanFoldGermanLegal";
  const std::string duplex = "Duplex=None:None,DuplexTumble", tumble = "Duplex=DuplexTumble:None,DuplexTumble";
  const std::string noUnit = "*UIConstraints: *Duplex DuplexTumble *Option2 False\n"
                             "*UIConstraints: *Option2 False *Duplex DuplexTumble\n";
  const std::string installable = "*OpenGroup: InstallableOptions/Options\n" + ppdOf({"Option2=False:False,True"}).substr(18) +
                                  "*CloseGroup: InstallableOptions\n";
  const std::string filmConflict = "*UIConstraints: *Duplex DuplexTumble *MediaType Film\n";
  const std::string noTumble = "Duplex=DuplexNoTumble:None,DuplexNoTumble", customSize = "*CustomPageSize True: \"x\"\n";
  // A custom page size forbidden with DuplexNoTumble, the custom size named first or second.
  const std::string customFirst = customSize + "*NonUIConstraints: *CustomPageSize True *Duplex DuplexNoTumble\n",
                    customSecond = customSize + "*NonUIConstraints: *Duplex DuplexNoTumble *CustomPageSize True\n";
  const std::string geometry = "*DefaultImageableArea: A4\n*ImageableArea A4: \"0 0 1 1\"\n*ImageableArea Letter: "
                               "\"0 0 1 1\"\n*DefaultPaperDimension: A4\n*PaperDimension A4: \"1 1\"\n";
  // Custom codes whose default lines, written without a blank after the colon, are 254 and 255 characters
  // long: written anew with the blank, the first just fits a PPD line and the second does not.
  const std::string custom = "*CustomUserCode True: \"x\"\n*CustomPassword True: \"x\"\n";
  const std::string fits = "Custom." + std::string(230, '7'), tooLong = "Custom." + std::string(231, '7');
  const std::string bothNone = ppdOf({"UserCode=None:None", "Password=None:None"}, custom);
  std::string unspaced = ppdOf({"UserCode=" + tooLong + ":None", "Password=" + fits + ":None"}, custom);
  for (std::size_t at; (at = unspaced.find(": Custom.")) != std::string::npos;) unspaced.erase(at + 1, 1);
  const struct {
    std::string oldPPD, newPPD;
    std::vector<std::string> present, absent;  // in the output, or in the log when the text starts with "log:"
  } cases[] = {
      {ppdOf({"JCLEconomode=On:On,Off"}), ppdOf({"JCLEconomode=Off:On,Off"}),
       {"*DefaultJCLEconomode: On\n", "*JCLCloseUI: *JCLEconomode\n", "log:Setting new option: *JCLEconomode/On."}, {}},
      {ppdOf({"PageSize=Custom.300x400:A4,Letter", "PageRegion=A4:A4,Letter"}, customSize),
       ppdOf({"PageSize=A4:A4,Letter", "PageRegion=A4:A4,Letter"}, customSize + geometry),
       {"*DefaultPageSize: Custom.300x400\n", "*DefaultPageRegion: A4\n", "*DefaultImageableArea: A4\n"}, {}},
      {ppdOf({"PageSize=Custom.300x400:A4,Letter"}, customSize), ppdOf({"PageSize=A4:A4,Letter"}),
       {"*DefaultPageSize: A4\n",
        "log:processNewPPD: Keeping new default: *PageSize/A4 (Custom.300x400 is not offered by the new PPD).\n"}, {}},
      {ppdOf({"UserCode=Custom.acc42:None"}, "*CustomUserCode True: \"x\"\n"),
       ppdOf({"UserCode=None:None,1001", "Password=None:None"}, "*CustomUserCode True/Code: \"x\"\n"),
       {"*DefaultUserCode: Custom.acc42\n"}, {}},
      {ppdOf({"Password=Custom.1234:None"}, "*CustomPassword True: \"x\"\n"), ppdOf({"Password=None:None"}),
       {"*DefaultPassword: None\n", "log:*Password/None (Custom.1234 is not offered"}, {}},
      {unspaced, bothNone, {"*DefaultUserCode: None\n", "*DefaultPassword: " + fits + "\n",
        "log:processNewPPD: Keeping new default: *UserCode/None (" + tooLong + " is not offered by the new PPD).\n"},
       {tooLong}},
      {ppdOf({"UserCode=Custom.M\xfcller:None", "Password=Custom.12\x01\x1c" "34:None"}, custom), bothNone,
       {"*DefaultUserCode: Custom.M\xfcller\n", "*DefaultPassword: None\n",
        "log:*Password/None (Custom.12\x01\x1c" "34 is not"}, {}},
      {ppdOf({"MediaType=Glossy:Plain,Glossy", duplex}), ppdOf({"MediaType=Plain:Plain,Bond"}), {"*DefaultMediaType: Plain\n",
        "log:processNewPPD: Keeping new default: *MediaType/Plain (Glossy is not offered by the new PPD).\n",
        "log:processNewPPD: Dropping old default: *Duplex/None (the new PPD has no default line for it).\n"},
       {"Glossy"}},
      {ppdOf({"PageSize=Letter:A4,Letter", "PageRegion=A4:A4,Letter"}),
       ppdOf({"PageSize=A4:A4,Letter", "PageRegion=A4:A4,Letter"}, geometry + "*DefaultPaperDimension: A4\n"),
       {"*DefaultPageSize: Letter\n", "*DefaultPageRegion: Letter\n", "*DefaultImageableArea: Letter\n",
        "log:Setting new option: *ImageableArea/Letter."},
       {"*DefaultPaperDimension: Letter", "*DefaultImageableArea: A4"}},
      {ppdOf({"PageSize=Legal:A4,Legal"}), ppdOf({"PageSize=A4:A4"}, "*PageSize Letter: \"\"\n*PageSize Legal: \"\"\n" +
                                                  geometry),
       {"*DefaultPageSize: Legal\n", "*DefaultImageableArea: A4\n", "*DefaultPaperDimension: A4\n"}, {}},
      {ppdOf({"PageSize=Env10:Letter,Env10", "PageRegion=Env10:Letter,Env10"}, dimension("Env10", "297 684")),
       ppdOf({newSizes, "PageRegion=Letter:Letter,Comm10"}, envelopes),
       {"*DefaultPageSize: Comm10\n", "*DefaultPageRegion: Comm10\n",
        "log:processNewPPD: Setting new option: *PageSize/Comm10 (Env10 by its dimensions).\n",
        "decision:PageSize=Env10 carried as Comm10 (by its dimensions)",
        "decision:PageRegion=Env10 carried as Comm10 (by its dimensions)"}, {}},
      {ppdOf({"PageSize=EnvDL:EnvDL"}), ppdOf({newSizes}, envelopes), {"*DefaultPageSize: Envelope.312.624\n"}, {}},
      {ppdOf({"PageSize=8.5x13:8.5x13"}), ppdOf({newSizes}, envelopes), {"*DefaultPageSize: FanFoldGermanLegal\n"}, {}},
      {ppdOf({"PageSize=EnvC5:EnvC5"}, dimension("EnvC5", "459 649")), ppdOf({newSizes}, envelopes),
       {"*DefaultPageSize: Letter\n", "log:*PageSize/Letter (EnvC5 is not offered by the new PPD)"}, {"EnvC5x\n"}},
      {ppdOf({tumble}), ppdOf({duplex}, noUnit) + installable,
       {"*DefaultDuplex: DuplexTumble\n", "*DefaultOption2: True\n", "decision:Duplex=DuplexTumble carried",
        "log:processNewPPD: Turning on installable option: *Option2/True (needed by *Duplex DuplexTumble).\n"}, {}},
      {ppdOf({tumble}), ppdOf({duplex, "MediaType=Film:Plain,Film"}, filmConflict),
       {"*DefaultDuplex: None\n", "*DefaultMediaType: Film\n",
        "decision:Duplex=DuplexTumble not carried as None (conflicts with *MediaType Film of the new PPD)",
        "log:processNewPPD: Keeping new default: *Duplex/None (DuplexTumble conflicts with *MediaType Film of the new PPD).\n"}, {}},
      {ppdOf({"PageSize=EnvMonarch:EnvMonarch", "PageRegion=EnvMonarch:EnvMonarch", tumble}),
       ppdOf({"PageSize=Letter:Letter,EnvMonarch", "PageRegion=Letter:Letter,EnvMonarch", duplex},
             "*UIConstraints: *PageSize EnvMonarch *Duplex DuplexTumble\n"),
       {"*DefaultPageSize: EnvMonarch\n", "*DefaultPageRegion: EnvMonarch\n", "*DefaultDuplex: None\n",
        "decision:Duplex=DuplexTumble not carried as None (conflicts with *PageSize EnvMonarch)"}, {}},
      {ppdOf({"PageSize=EnvMonarch:EnvMonarch", "PageRegion=EnvMonarch:EnvMonarch", tumble}),
       ppdOf({"PageSize=Letter:Letter,Monarch", "PageRegion=Letter:Letter,Monarch", tumble},
             "*UIConstraints: *Duplex DuplexTumble *PageSize Monarch\n" + dimension("Monarch", "279 540")),
       {"*DefaultPageSize: Letter\n", "*DefaultPageRegion: Letter\n", "*DefaultDuplex: DuplexTumble\n",
        "decision:PageRegion=EnvMonarch not carried as Letter (follows the page size Letter)",
        "log:Keeping new default: *PageSize/Letter (EnvMonarch as Monarch conflicts with *Duplex DuplexTumble of the new PPD)"},
       {}},
      {ppdOf({"PageSize=EnvMonarch:EnvMonarch", tumble}),
       ppdOf({"PageSize=Letter:Letter,EnvMonarch", duplex}, "*UIConstraints: *Duplex DuplexTumble *PageSize EnvMonarch\n"),
       {"*DefaultPageSize: EnvMonarch\n", "*DefaultDuplex: None\n",
        "log:Keeping new default: *Duplex/None (DuplexTumble conflicts with *PageSize EnvMonarch)."}, {}},
      {ppdOf({"PageSize=Custom.300x400:A4", noTumble}, customSize),
       ppdOf({"PageSize=A4:A4", duplex + ",DuplexNoTumble"}, customFirst), {"*DefaultPageSize: Custom.300x400\n",
        "*DefaultDuplex: None\n", "decision:Duplex=DuplexNoTumble not carried as None (conflicts with *PageSize Custom.300x400)"}, {}},
      {ppdOf({"PageSize=Custom.300x400:A4", noTumble}, customSize),
       ppdOf({"PageSize=A4:A4", duplex + ",DuplexNoTumble"}, customSecond),
       {"*DefaultPageSize: Custom.300x400\n", "*DefaultDuplex: None\n"}, {}},
      {ppdOf({"PageSize=Custom.300x400:A4"}, customSize), ppdOf({"PageSize=A4:A4", noTumble}, customFirst),
       {"*DefaultPageSize: A4\n", "*DefaultDuplex: DuplexNoTumble\n",
        "log:Keeping new default: *PageSize/A4 (Custom.300x400 conflicts with *Duplex DuplexNoTumble of the new PPD)."}, {}},
      {ppdOf({tumble, "MediaType=Film:Plain,Film"}),
       ppdOf({"Duplex=DuplexNoTumble:None,DuplexNoTumble,DuplexTumble", "MediaType=Plain:Plain,Film"},
             "*cupsUIConstraints FilmOneSided: \"*Duplex DuplexTumble *MediaType Film\"\n"
             "*cupsUIResolver FilmOneSided: \"*Duplex None\"\n"),
       {"*DefaultDuplex: None\n", "*DefaultMediaType: Film\n",
        "log:processNewPPD: Taking the resolver's choice: *Duplex/None (DuplexTumble conflicts with *MediaType Film; "
        "*cupsUIResolver FilmOneSided).\n"}, {}},
      {ppdOf({tumble, "InputSlot=Tray2:Tray1,Tray2", "Collate=True:False,True"}),
       ppdOf({duplex, "InputSlot=Tray1:Tray1,Tray2", "Collate=False:False,True"},
             "*cupsUIConstraints: \"*InputSlot Tray2 *Collate True *Duplex\"\n"),
       {"*DefaultInputSlot: Tray2\n", "*DefaultCollate: True\n", "*DefaultDuplex: None\n"}, {}},
      {ppdOf({tumble, "MediaType=Film:Plain,Film"}, filmConflict),
       ppdOf({duplex, "MediaType=Plain:Plain,Film"}, filmConflict),
       {"*DefaultDuplex: DuplexTumble\n", "*DefaultMediaType: Film\n"}, {}},
      {ppdOf({"Resolution=300dpi:300dpi"}),
       ppdOf({"MediaType=Glossy:Plain,Glossy", tumble}, "*UIConstraints: *MediaType Glossy *Duplex\n"),
       {"*DefaultMediaType: Glossy\n", "*DefaultDuplex: DuplexTumble\n"}, {}},
  };
  for (const auto& c : cases) {
    std::string log;
    MergeDecisions decisions;
    const std::string out = merge(c.newPPD, MemFile(c.oldPPD).path(), OptionList{}, &log, &decisions);
    for (const SettingDecision& decision : decisions) log += told(decision) + "\n";
    for (const std::string& text : c.present) {
      const std::string& where = text.starts_with("log:") || text.starts_with("decision:") ? log : out;
      EXPECT_NE(where.find(text.substr(text.starts_with("log:") ? 4 : 0)), std::string::npos) << text << "\n" << out << log;
    }
    for (const std::string& text : c.absent) EXPECT_EQ(out.find(text), std::string::npos) << text << "\n" << out;
    EXPECT_EQ(merge(c.newPPD, MemFile(out).path()), out);
  }
}

}  // namespace
