// The printer list (which PPDs are the product's queues, the information file's printers block) and the
// update of each queue (question, new PPD with its defaults, backup, velaConfig, restart) on a sandbox host.
#include <algorithm>
#include <fstream>
#include <map>

#include <nlohmann/json.hpp>

#include "driver/settings.h"
#include "driver/text.h"
#include "driver/update_log.h"
#include "printers/model_table.h"
#include "printers/printer_update.h"
#include "sandbox/sandbox_host.h"
#include "text_checks.h"

namespace {

std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

const std::string kCandidates = "/usr/share/ppd/marlo";
const std::string kOld = readWholeFile(VELA_SOURCE_DIR "/tests/printers/fixtures/tessel_old.ppd");
const std::string kNew = readWholeFile(VELA_SOURCE_DIR "/tests/printers/fixtures/tessel_new.ppd");

std::string withModel(std::string ppd, const char* m) { return ppd.replace(ppd.find("Tessel 1200dn PCL\""), 17, m); }

// The queues' PPDs, the compressed new PPD of the fixtures' model and stubs for the restart.
void prepare(SandboxHost& host, const std::vector<std::pair<std::string, std::string>>& queues) {
  host.remove("/etc/cups/ppd");
  for (const char* stub : {"/usr/bin/systemctl", "/usr/sbin/service"}) host.installStub(stub);
  host.writeFile(kCandidates + "/tessel1200.ppd", kNew);
  host.shell("gzip " + kCandidates + "/tessel1200.ppd");
  for (const auto& [file, ppd] : queues) host.writeFile("/etc/cups/ppd/" + file, ppd, 0640);
}

// Runs fn inside the view and returns the text it made (more than an exit status holds).
std::string insideText(SandboxHost& host, const std::function<std::string()>& fn) {
  host.remove("/inside-result");
  host.inside([&fn] { return std::ofstream("/inside-result") << fn() ? 0 : 1; });
  return host.exists("/inside-result") ? host.readFile("/inside-result") : "";
}

// Lists the queues and updates them in the view, answering from answers: "count result".
std::string update(SandboxHost& host, const std::string& answers = "", int query = 0) {
  host.writeFile("/answers", answers);
  return insideText(host, [query] {
    if (!std::freopen("/answers", "r", stdin) || !std::freopen("/questions", "w", stdout)) return std::string();
    settings().cp = "/bin/cp";
    settings().gzip = "/bin/gzip";
    UpdateLog::open(0);
    PrinterList list;
    int count = -1;
    getInstalledPrinters(list, count);
    const int result = updatePrinters(kCandidates, list, count, query);
    UpdateLog::close();
    return strFormat("%d %d", count, result);
  });
}

// A PPD of 35 lines: the model line on line 2, "*% Vela version: 1" on line 3 unless lines are given.
std::string queuePPD(const std::string& modelLine, std::map<int, std::string> lines = {}, const char* eol = "\n") {
  lines.try_emplace(1, "*PPD-Adobe: \"4.3\"");
  lines.try_emplace(2, modelLine);
  lines.try_emplace(3, "*% Vela version: 1");
  std::string text;
  for (int n = 1; n <= 35; ++n) text += (lines.contains(n) ? lines[n] : "*% filler") + eol;
  return text;
}

// Only current product PPDs are listed as queues; a queue keeps its PPD when there is no new PPD of its model,
// when the candidate does not decompress or when /tmp is too small for the merged PPD.
TEST(PrinterUpdate, ListsProductQueuesAndKeepsThoseWithoutUsableNewPPD) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  const std::string corvane = "*ModelName: \"Marlo Corvane C210dn PS\"", longName(200, 'q');
  prepare(host, {{"lab1.ppd", queuePPD(corvane)}, {"lab1.ppd.O", queuePPD("*ModelName: \"Marlo Tessel 2100dn PCL\"")},
                 {"zero-then-one.ppd", queuePPD(corvane, {{3, "*% Vela version: 0"}, {30, "*% Vela version: 1"}})},
                 {"crlf.ppd", queuePPD(corvane, {}, "\r\n")}, {longName + ".ppd", queuePPD(corvane)},
                 {"untidy.ppd", "*% " + std::string(1000, 'a') + std::string("\n*%\0\0 nul\n", 10) + corvane +
                                    "\n*% Vela version: 1"},
                 {"late.ppd", queuePPD(corvane, {{3, "*% Vela version: 0"}, {31, "*% Vela version: 1"}})},
                 {"v2.ppd", queuePPD(corvane, {{3, "*% Vela version: 2"}})},
                 {"acme.ppd", queuePPD("*ModelName: \"Acme Writer 9 PS\"")},
                 {"nopdl.ppd", queuePPD("*ModelName: \"Marlo Corvane C210dn\"")},
                 {"longmodel.ppd", queuePPD("*ModelName: \"Marlo Corvane C210dn " + std::string(270, 'x') + " PS\"")},
                 {"nomodel.ppd", withModel(kOld, "Tessel 1400dn PCL")},
                 {"broken.ppd", withModel(kOld, "Tessel 2100dn PCL")}, {"tight.ppd", kOld}});
  host.writeFile(kCandidates + "/tessel2100.ppd.gz", withModel(kNew, "Tessel 2100dn PCL"));
  host.remove(kCandidates + "/tessel1200.ppd.gz");
  host.writeFile(kCandidates + "/tessel1200.ppd", kNew + "*% " + std::string(7000, '.') + "\n");
  ASSERT_EQ(host.shell("mount -t tmpfs -o size=16k tmpfs /tmp").status, 0);
  EXPECT_EQ(update(host), "9 1");  // the five below, lab1.ppd.O and the three kept ones: none of the others
  const std::string log = host.log(), report = log.substr(0, log.find("List of Marlo PPD files to install: 9.\n"));
  const std::string listed[] = {"lab1", "zero-then-one", "crlf", "untidy", longName.substr(0, 79)};
  for (const std::string& queue : listed) EXPECT_TRUE(has(report, "Printer : " + queue + ".\n")) << queue;
  EXPECT_TRUE(has(report, "Printer : lab1.\n\tPPD File: /etc/cups/ppd/lab1.ppd.O.\n\tModel   : \"Marlo Tessel 2100dn "
                          "PCL\".\n\tMarlo ID: " + std::to_string(findModelId("Tessel 2100dn")) + ".\n\tPDL     : PCL.\n"));
  EXPECT_TRUE(has(report, "\tPPD File: /etc/cups/ppd/" + longName + ".ppd.\n"));
  for (const auto& [file, model] : {std::pair{"nomodel", "Tessel 1400dn PCL"}, {"broken", "Tessel 2100dn PCL"},
                                     {"tight", "Tessel 1200dn PCL"}})
    EXPECT_EQ(host.readFile("/etc/cups/ppd/" + std::string(file) + ".ppd"), withModel(kOld, model)) << file;
  for (const char* line : {"PPD NOT FOUND!\nCopying  to /etc/cups/ppd/nomodel.ppd: result=-1\n",
                           "Problem decompressing: /tmp/korin", "Copying  to /etc/cups/ppd/broken.ppd: result=-1\n",
                           "Problem writing: /tmp/korot", "Copying  to /etc/cups/ppd/tight.ppd: result=-1\n"})
    EXPECT_TRUE(has(log, line)) << line << "\n---\n" << log;
  EXPECT_EQ(host.listDir("/tmp"), std::vector<std::string>{});
}

// The block after "%%KORBLOCK_PRINTERS_BEGIN" up to its end marker or the file's end: "result counter" names.
TEST(GetInfoPrinters, ReadsThePrintersBlock) {
  REQUIRE_SANDBOX();
  const std::string longName(100, 'n');
  const std::pair<std::string, std::string> cases[] = {
      {"#\n%%KORBLOCK_PRINTERS_BEGIN\nlab1\nlab2  \n" + longName + "\n%%KORBLOCK_PRINTERS_END\nx\n",
       "1 3\nlab1\nlab2\n" + longName.substr(0, 79) + "\n"},
      {"%%KORBLOCK_PRINTERS_BEGIN \nlab1\r\nlab2", "1 2\nlab1\r\nlab2\n"},
      {"%%KORBLOCK_USERS_BEGIN\nroot\n", "0 42\nold\n"},
  };
  SandboxHost host;
  for (const auto& [content, expected] : cases) {
    host.writeFile("/opt/tam/velaInfo4.0", content);
    EXPECT_EQ(insideText(host, [] {
      settings().printerCount = 42;
      PrinterList list;
      list.head().queueName = "old";
      const int found = getInfoPrinters(2, list);
      std::string text = strFormat("%d %d\n", found, settings().printerCount);
      for (const PrinterEntry& entry : list.entries) text += entry.queueName + "\n";
      return text;
    }), expected) << content;
  }
}

TEST(PrinterUpdate, AsksForEachQueue) {
  REQUIRE_SANDBOX();
  // answers, questions asked, queues updated, restarts
  const std::tuple<const char*, std::size_t, long, std::size_t> cases[] = {
      {"n\ny\ny\n", 3, 2, 1}, {"all\n", 1, 3, 1}, {"break\n", 1, 0, 0}, {"maybe\nno\nno\n", 3, 1, 1}};
  for (const auto& [answers, questions, updated, restarts] : cases) {
    SandboxHost host;
    prepare(host, {{"a.ppd", kOld}, {"b.ppd", kOld}, {"c.ppd", kOld}});
    EXPECT_EQ(update(host, answers, 1), "3 1");
    EXPECT_EQ(countOf(host.readFile("/questions"), "Do you want to update printer: "), questions) << answers;
    EXPECT_EQ(std::ranges::count_if(host.listDir("/etc/cups"), [](auto& f) { return f.ends_with(".rpmsave"); }), updated);
    EXPECT_EQ(host.stubCalls("/usr/bin/systemctl").size(), restarts) << answers;
  }
}

// setup upgrades a queue of the previous generation (CRLF lines) beside CUPS's older copy lab1.ppd.O, in both
// directory orders, and leaves a queue whose PPD libcups cannot open; the copy is counted apart from the queues.
TEST(PrinterUpdateRun, SetupUpgradesQueuesOfThePreviousGeneration) {
  REQUIRE_SANDBOX();
  std::string old;
  for (char ch : readWholeFile(VELA_OLD_PPD_DIR "/Marlo_Ardent_110-PCL.ppd"))
    old += ch == '\n' ? "\r\n" : std::string(1, ch);
  std::string older = old, unreadable = old;
  older.replace(older.find("*DefaultPageSize: Letter"), 24, "*DefaultPageSize: A4");
  older.replace(older.find("*DefaultInputSlot: Tray1"), 24, "*DefaultInputSlot: Manual");
  unreadable.replace(0, unreadable.find('\r'), "*PPD-Abode: \"4.3\"");
  for (const bool realFirst : {true, false}) {
    SandboxHost host;
    host.installProduct();
    host.installStub("/usr/bin/systemctl");
    std::pair<std::string, std::string> ppds[] = {{"lab1.ppd", old}, {"lab1.ppd.O", older}, {"odd.ppd", unreadable}};
    if (!realFirst) std::swap(ppds[0], ppds[1]);
    for (const auto& [file, ppd] : ppds) host.writeFile("/etc/cups/ppd/" + file, ppd, 0640);
    host.writeFile("/opt/tam/lab1/root/velaConfig", "queue lab1\n%%VELA_VERSION_1.0 since 2019\nend", 0600);
    const RunResult run = host.run({"/opt/tam/bin/setup"}, {.env = {"KORLPMODE=CUPS"}});
    EXPECT_EQ(run.status, 0) << run.err;

    // PageSize (with its geometry), InputSlot and the JCL economode carried; OutputBin (new) and ColorSep
    // as in the new PPD.
    const std::string merged = host.readFile("/etc/cups/ppd/lab1.ppd");
    for (const std::string line : {"PageSize: Letter\n", "PageRegion: Letter\n", "ImageableArea: Letter\n",
                                   "PaperDimension: Letter\n", "InputSlot: Tray1\n", "OutputBin: FaceDown\n",
                                   "JCLEconomode: On\n", "ColorSep: ProcessBlack.60lpi.600dpi/"})
      EXPECT_NE(merged.find("\n*Default" + line), std::string::npos) << line << realFirst;
    EXPECT_EQ(host.readFile("/etc/cups/lab1.ppd.rpmsave"), old);
    EXPECT_NE(host.readFile("/etc/cups/ppd/odd.ppd").find("*DefaultPageSize: A4\n"), std::string::npos);
    EXPECT_EQ(host.readFile("/opt/tam/lab1/root/velaConfig"), "queue lab1\n%%VELA_VERSION_3.0\nend");
    const RunResult check = host.shell("cupstestppd /etc/cups/ppd/lab1.ppd 2>&1");
    EXPECT_TRUE(check.status == 0 && check.out.find("WARN") == std::string::npos) << check.out;
    const std::string log = host.log();
    for (const char* line : {"Marlo_Ardent_110-PCL.ppd.gz.\n", "processNewPPD: Setting new option: *PageSize/Letter.\n",
                             "processNewPPD(nOptions=0)\n", "processPrinterConfig(lab1): updated.\n"})
      EXPECT_NE(log.find(line), std::string::npos) << line << "\n---\n" << log;
    EXPECT_EQ(countOf(log, "saving /etc/cups/ppd/lab1.ppd to /etc/cups/lab1.ppd.rpmsave: result=0\n"), 1) << log;
    EXPECT_EQ(countOf(log, "saving /etc/cups/ppd/lab1.ppd.O to /etc/cups/lab1.ppd.rpmsave: skipped"), 1) << log;
    // Two queues (lab1, odd), and CUPS's copy of lab1 counted apart, in the summary and the report alike.
    EXPECT_NE(run.out.find("Queues: 2 updated, 0 up to date,"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\nCUPS copies of queue PPDs: 1 updated, 0 up to date,"), std::string::npos) << run.out;
    const auto report = nlohmann::json::parse(host.readFile("/var/log/Vela4.0_UpdateReport.json"));
    EXPECT_EQ(report["summary"]["updated"], 2);
    EXPECT_EQ(report["summary"]["cupsCopies"]["updated"], 1);
    for (const auto& queue : report["queues"]) {
      EXPECT_EQ(queue["cupsCopy"], queue["ppd"] == "/etc/cups/ppd/lab1.ppd.O") << queue;
      EXPECT_EQ(queue["model"], "Marlo Ardent 110 PCL");
    }
  }
}

}  // namespace
