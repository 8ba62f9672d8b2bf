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

// The queues' PPDs, the compressed new PPD of the fixtures' model and restart stubs, on a host cleared of queues.
void prepare(SandboxHost& host, const std::vector<std::pair<std::string, std::string>>& queues) {
  host.shell("rm -rf /etc/cups/ppd /etc/cups/*.rpmsave /var/lib/sandbox-stubs");
  for (const char* stub : {"/usr/bin/systemctl", "/usr/sbin/service"}) host.installStub(stub);
  host.writeFile(kCandidates + "/tessel1200.ppd", kNew);
  host.shell("gzip -f " + kCandidates + "/tessel1200.ppd");
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

// A PPD of 35 lines: the model line on line 2, the given lines ("*% Vela version: 1" on line 3 unless given).
std::string queuePPD(const std::string& modelLine, std::map<int, std::string> lines = {{3, "*% Vela version: 1"}}) {
  lines.try_emplace(1, "*PPD-Adobe: \"4.3\"");
  lines.try_emplace(2, modelLine);
  std::string text;
  for (int n = 1; n <= 35; ++n) text += (lines.contains(n) ? lines[n] : "*% filler") + "\n";
  return text;
}

// Only current product PPDs are listed as queues (CRLF ones in PrinterUpdateRun); a queue keeps its PPD when there is
// no new PPD of its model or /tmp is too small for the merged PPD (a damaged new PPD: the hardening test's odd hosts).
TEST(PrinterUpdate, ListsProductQueuesAndKeepsThoseWithoutUsableNewPPD) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  const std::string corvane = "*ModelName: \"Marlo Corvane C210dn PS\"", longName(200, 'q');
  prepare(host, {{"lab1.ppd", queuePPD(corvane)}, {"lab1.ppd.O", queuePPD("*ModelName: \"Marlo Tessel 2100dn PCL\"")},
                 {"zero-then-one.ppd", queuePPD(corvane, {{3, "*% Vela version: 0"}, {30, "*% Vela version: 1"}})},
                 {"untidy.ppd", "*% " + std::string(1000, 'a') + std::string("\n*%\0\0 nul\n", 10) + corvane +
                                    "\n*% Vela version: 1"},
                 {"late.ppd", queuePPD(corvane, {{3, "*% Vela version: 0"}, {31, "*% Vela version: 1"}})},
                 {"v2.ppd", queuePPD(corvane, {{3, "*% Vela version: 2"}})}, {longName + ".ppd", queuePPD(corvane)},
                 {"acme.ppd", queuePPD("*ModelName: \"Acme Writer 9 PS\"")},
                 {"nopdl.ppd", queuePPD("*ModelName: \"Marlo Corvane C210dn\"")},
                 {"longmodel.ppd", queuePPD("*ModelName: \"Marlo Corvane C210dn " + std::string(270, 'x') + " PS\"")},
                 {"nomodel.ppd", withModel(kOld, "Tessel 1400dn PCL")}, {"tight.ppd", kOld}});
  host.remove(kCandidates + "/tessel1200.ppd.gz");
  host.writeFile(kCandidates + "/tessel1200.ppd", kNew + "*% " + std::string(7000, '.') + "\n");
  ASSERT_EQ(host.shell("mount -t tmpfs -o size=16k tmpfs /tmp").status, 0);
  EXPECT_EQ(update(host), "7 1");  // the four below, lab1.ppd.O and the two kept ones: none of the others
  const std::string log = host.log(), report = log.substr(0, log.find("List of Marlo PPD files to install: 7.\n"));
  for (const std::string queue : {"lab1", "zero-then-one", "untidy", longName.c_str()})
    EXPECT_TRUE(has(report, "Printer : " + queue.substr(0, 79) + ".\n\tPPD File: /etc/cups/ppd/" + queue + ".ppd.\n"))
        << queue;
  EXPECT_TRUE(has(report, "Printer : lab1.\n\tPPD File: /etc/cups/ppd/lab1.ppd.O.\n\tModel   : \"Marlo Tessel 2100dn "
                          "PCL\".\n\tMarlo ID: " + std::to_string(findModelId("Tessel 2100dn")) + ".\n\tPDL     : PCL.\n"));
  for (const auto& [file, model] : {std::pair{"nomodel", "Tessel 1400dn PCL"}, {"tight", "Tessel 1200dn PCL"}})
    EXPECT_EQ(host.readFile("/etc/cups/ppd/" + std::string(file) + ".ppd"), withModel(kOld, model)) << file;
  for (const char* line : {"PPD NOT FOUND!\nCopying  to /etc/cups/ppd/nomodel.ppd: result=-1\n",
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
  SandboxHost host;
  for (const auto& [answers, questions, updated, restarts] : cases) {
    prepare(host, {{"a.ppd", kOld}, {"b.ppd", kOld}, {"c.ppd", kOld}});
    EXPECT_EQ(update(host, answers, 1), "3 1");
    EXPECT_EQ(countOf(host.readFile("/questions"), "Do you want to update printer: "), questions) << answers;
    EXPECT_EQ(std::ranges::count_if(host.listDir("/etc/cups"), [](auto& f) { return f.ends_with(".rpmsave"); }), updated);
    EXPECT_EQ(host.stubCalls("/usr/bin/systemctl").size(), restarts) << answers;
  }
}

// setup upgrades queues of the previous generation (CRLF lines) beside CUPS's older copies, made after (lab1) and
// before (lab2) the queue's PPD for both directory orders, and a queue whose PPD libcups cannot open; the copies are
// counted apart.
TEST(PrinterUpdateRun, SetupUpgradesQueuesOfThePreviousGeneration) {
  REQUIRE_SANDBOX();
  std::string old = readWholeFile(VELA_OLD_PPD_DIR "/Marlo_Ardent_110-PCL.ppd");
  for (std::size_t at = 0; (at = old.find('\n', at)) != std::string::npos; at += 2) old.insert(at, 1, '\r');
  std::string older = old, unreadable = old;
  older.replace(older.find("*DefaultPageSize: Letter"), 24, "*DefaultPageSize: A4");
  older.replace(older.find("*DefaultInputSlot: Tray1"), 24, "*DefaultInputSlot: Manual");
  unreadable.replace(0, unreadable.find('\r'), "*PPD-Abode: \"4.3\"");
  SandboxHost host;
  host.installProduct("/opt/tam", {"Marlo_Ardent_110-PCL.ppd.gz"});
  host.installStub("/usr/bin/systemctl");
  for (const auto& [file, ppd] : {std::pair{"lab1.ppd", old}, {"lab1.ppd.O", older}, {"lab2.ppd.O", older},
                                  {"lab2.ppd", old}, {"odd.ppd", unreadable}})
    host.writeFile("/etc/cups/ppd/" + std::string(file), ppd, 0640);
  host.writeFile("/opt/tam/lab1/root/velaConfig", "queue lab1\n%%VELA_VERSION_1.0 since 2019\nend", 0600);
  const RunResult run = host.run({"/opt/tam/bin/setup"}, {.env = {"KORLPMODE=CUPS"}});
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string log = host.log();
  for (const std::string queue : {"lab1", "lab2"}) {
    // PageSize (with its geometry), InputSlot and the JCL economode carried; OutputBin (new) and ColorSep as new.
    const std::string ppd = "/etc/cups/ppd/" + queue + ".ppd", backup = "/etc/cups/" + queue + ".ppd.rpmsave";
    const std::string merged = host.readFile(ppd);
    for (const std::string line : {"PageSize: Letter\n", "PageRegion: Letter\n", "ImageableArea: Letter\n",
                                   "PaperDimension: Letter\n", "InputSlot: Tray1\n", "OutputBin: FaceDown\n",
                                   "JCLEconomode: On\n", "ColorSep: ProcessBlack.60lpi.600dpi/"})
      EXPECT_NE(merged.find("\n*Default" + line), std::string::npos) << line << queue;
    EXPECT_EQ(host.readFile(backup), old) << queue;
    EXPECT_EQ(countOf(log, "saving " + ppd + " to " + backup + ": result=0\n"), 1) << log;
    EXPECT_EQ(countOf(log, "saving " + ppd + ".O to " + backup + ": skipped"), 1) << log;
  }
  EXPECT_NE(host.readFile("/etc/cups/ppd/odd.ppd").find("*DefaultPageSize: A4\n"), std::string::npos);
  EXPECT_EQ(host.readFile("/opt/tam/lab1/root/velaConfig"), "queue lab1\n%%VELA_VERSION_3.0\nend");
  const RunResult check = host.shell("cupstestppd /etc/cups/ppd/lab1.ppd 2>&1");
  EXPECT_TRUE(check.status == 0 && check.out.find("WARN") == std::string::npos) << check.out;
  for (const char* line : {"Marlo_Ardent_110-PCL.ppd.gz.\n", "processNewPPD: Setting new option: *PageSize/Letter.\n",
                           "processNewPPD(nOptions=0)\n", "processPrinterConfig(lab1): updated.\n"})
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n---\n" << log;
  // Three queues (lab1, lab2, odd), and CUPS's copies counted apart, in the summary and the report alike.
  EXPECT_NE(run.out.find("Queues: 3 updated, 0 up to date,"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\nCUPS copies of queue PPDs: 2 updated, 0 up to date,"), std::string::npos) << run.out;
  const auto report = nlohmann::json::parse(host.readFile("/var/log/Vela4.0_UpdateReport.json"));
  EXPECT_EQ(report["summary"]["cupsCopies"]["updated"], 2);
  for (const auto& queue : report["queues"]) {
    EXPECT_EQ(queue["cupsCopy"], queue["ppd"].get<std::string>().ends_with(".O")) << queue;
    EXPECT_EQ(queue["model"], "Marlo Ardent 110 PCL");
  }
}

}  // namespace
