// The printer update on a sandbox host: queues listed from the CUPS ppd
// directory get the new PPD with their defaults, a backup, an updated
// velaConfig and a restart; the question per queue, missing or unusable new
// PPDs, CUPS's own backup copies and a full /tmp.
#include <cstdio>

#include "driver/settings.h"
#include "driver/update_log.h"
#include "ppd_merge_support.h"
#include "printers/printer_update.h"
#include "support/sandbox_host.h"

namespace {

const std::string kFixtures = VELA_SOURCE_DIR "/tests/printers/fixtures/";
const std::string kCandidates = "/usr/share/ppd/marlo";

std::string fixture(const char* name) { return readWholeFile(kFixtures + name); }

// A sandbox with the CUPS ppd directory, the product's new PPD (compressed)
// and stubs for the restart commands.
class PrinterUpdate : public testing::Test {
 protected:
  void SetUp() override {
    if (!SandboxHost::unavailableReason().empty()) return;
    host_ = std::make_unique<SandboxHost>();
    host_->makeDirs("/etc/cups/ppd");
    host_->installStub("/usr/bin/systemctl");
    host_->installStub("/usr/sbin/service");
    host_->writeFile(kCandidates + "/tessel1200.ppd", fixture("tessel_new.ppd"));
    host_->shell("gzip " + kCandidates + "/tessel1200.ppd");
  }

  void addQueue(const std::string& name, const std::string& ppd) {
    host_->writeFile("/etc/cups/ppd/" + name, ppd, 0640);
  }

  // Lists the queues and updates them in the view, answering from answers.
  int update(const std::string& answers = "", int query = 0) {
    host_->writeFile("/answers", answers);
    return host_->inside([&] {
      if (!std::freopen("/answers", "r", stdin) || !std::freopen("/questions", "w", stdout)) return 2;
      settings().cp = "/bin/cp";
      settings().gzip = "/bin/gzip";
      UpdateLog::open(0);
      PrinterList list;
      int count = 0;
      getInstalledPrinters(list, count);
      const int result = updatePrinters(kCandidates, list, count, query);
      UpdateLog::close();
      return result;
    });
  }

  // Queue names in list order, from the log's report of the list.
  std::vector<std::string> listedQueues() {
    const std::string log = host_->log();
    const std::string report = log.substr(0, log.find("List of Marlo PPD files to install"));
    std::vector<std::string> queues;
    for (std::size_t at = report.find("Printer : "); at != std::string::npos; at = report.find("Printer : ", at + 1)) {
      queues.push_back(report.substr(at + 10, report.find(".\n", at) - at - 10));
    }
    return queues;
  }

  int countOf(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }

  std::unique_ptr<SandboxHost> host_;
};

TEST_F(PrinterUpdate, QueueGetsNewPPDWithItsDefaults) {
  REQUIRE_SANDBOX();
  addQueue("lab1.ppd", fixture("tessel_old.ppd"));
  host_->writeFile("/opt/tam/lab1/root/velaConfig", "queue lab1\n%%VELA_VERSION_1.0 since 2019\nend", 0600);
  EXPECT_EQ(update(), 1);

  EXPECT_EQ(host_->readFile("/etc/cups/ppd/lab1.ppd"), fixture("tessel_merged.ppd"));
  EXPECT_EQ(host_->mode("/etc/cups/ppd/lab1.ppd"), 0640u);
  EXPECT_EQ(host_->readFile("/etc/cups/lab1.ppd.rpmsave"), fixture("tessel_old.ppd"));
  EXPECT_EQ(host_->readFile("/opt/tam/lab1/root/velaConfig"), "queue lab1\n%%VELA_VERSION_3.0\nend");
  EXPECT_EQ(host_->mode("/opt/tam/lab1/root/velaConfig"), 0600u);
  EXPECT_EQ(host_->listDir("/tmp"), std::vector<std::string>{});
  const std::vector<std::string> restarts = host_->stubCalls("/usr/bin/systemctl");
  ASSERT_EQ(restarts.size(), 1u);
  EXPECT_TRUE(restarts[0].ends_with("systemctl restart cups.service")) << restarts[0];

  const std::string log = host_->log();
  for (const char* line : {"==========================================================\n"
                           "Printer = lab1 with PPD=/etc/cups/ppd/lab1.ppd\n",
                           "saving /etc/cups/ppd/lab1.ppd to /etc/cups/lab1.ppd.rpmsave: result=0\n",
                           "Processing Marlo PPD files for printer: lab1.\n",
                           "PPD = /usr/share/ppd/marlo/tessel1200.ppd.gz.\n",
                           "processNewPPD(nOptions=6)\n",
                           "processNewPPD: Setting new option: *PageSize/Letter.\n",
                           "New PPD for printer lab1 in: /tmp/korot",
                           "to /etc/cups/ppd/lab1.ppd: result=0\n",
                           "processPrinterConfig(lab1): updated.\n"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n---\n" << log;
  }
}

struct QuestionCase {
  const char* answers;
  std::vector<bool> updated;  // in list order
  int questions;
  bool restarted;
};

TEST_F(PrinterUpdate, AsksForEachQueue) {
  REQUIRE_SANDBOX();
  const QuestionCase cases[] = {
      {"n\ny\ny\n", {false, true, true}, 3, true},
      {"all\n", {true, true, true}, 1, true},
      {"break\n", {false, false, false}, 1, false},
      {"maybe\nno\nno\n", {true, false, false}, 3, true},
  };
  for (const QuestionCase& c : cases) {
    SetUp();
    // The list (and question) order is the directory's: the log reports it.
    for (const char* q : {"a", "b", "c"}) addQueue(std::string(q) + ".ppd", fixture("tessel_old.ppd"));
    EXPECT_EQ(update(c.answers, 1), 1);
    EXPECT_EQ(countOf(host_->readFile("/questions"), "Do you want to update printer: "), c.questions) << c.answers;
    std::vector<bool> updated;
    for (const std::string& queue : listedQueues()) updated.push_back(host_->exists("/etc/cups/" + queue + ".ppd.rpmsave"));
    EXPECT_EQ(updated, c.updated) << c.answers;
    EXPECT_EQ(host_->stubCalls("/usr/bin/systemctl").size(), c.restarted ? 1u : 0u) << c.answers;
  }
}

TEST_F(PrinterUpdate, QueueWithoutUsableNewPPDKeepsItsPPD) {
  REQUIRE_SANDBOX();
  // A model the candidates do not have, and a broken candidate for another.
  std::string otherModel = fixture("tessel_old.ppd");
  otherModel.replace(otherModel.find("Tessel 1200dn PCL\""), 17, "Tessel 1400dn PCL");
  addQueue("nomodel.ppd", otherModel);
  std::string brokenModel = fixture("tessel_old.ppd");
  brokenModel.replace(brokenModel.find("Tessel 1200dn PCL\""), 17, "Tessel 2100dn PCL");
  addQueue("broken.ppd", brokenModel);
  host_->writeFile(kCandidates + "/broken.ppd.gz", "\x1f\x8b\x08\x00 truncated");
  std::string brokenCandidate = fixture("tessel_new.ppd");
  host_->writeFile(kCandidates + "/tessel2100.ppd.gz",
                   brokenCandidate.replace(brokenCandidate.find("Tessel 1200dn PCL\""), 17, "Tessel 2100dn PCL"));
  host_->writeFile("/opt/tam/nomodel/root/velaConfig", "%%VELA_VERSION_1.0\n");
  EXPECT_EQ(update(), 1);

  EXPECT_EQ(host_->readFile("/etc/cups/ppd/nomodel.ppd"), otherModel);
  EXPECT_EQ(host_->readFile("/etc/cups/ppd/broken.ppd"), brokenModel);
  EXPECT_EQ(host_->readFile("/opt/tam/nomodel/root/velaConfig"), "%%VELA_VERSION_3.0\n");
  const std::string log = host_->log();
  EXPECT_NE(log.find("PPD NOT FOUND!\nCopying  to /etc/cups/ppd/nomodel.ppd: result=-1\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Problem decompressing: /tmp/korin"), std::string::npos) << log;
  EXPECT_NE(log.find("Copying  to /etc/cups/ppd/broken.ppd: result=-1\n"), std::string::npos) << log;
  EXPECT_EQ(host_->listDir("/tmp"), std::vector<std::string>{});
}

TEST_F(PrinterUpdate, OldPPDThatLibcupsCannotReadGetsTheNewDefaults) {
  REQUIRE_SANDBOX();
  std::string unreadable = fixture("tessel_old.ppd");
  unreadable.replace(0, unreadable.find('\n'), "*PPD-Abode: \"4.3\"");  // not a PPD to libcups
  addQueue("odd.ppd", unreadable);
  EXPECT_EQ(update(), 1);
  const std::string merged = host_->readFile("/etc/cups/ppd/odd.ppd");
  EXPECT_NE(merged.find("*DefaultPageSize: A4\n"), std::string::npos);
  EXPECT_NE(merged.find("*DefaultInputSlot: Auto\n"), std::string::npos);
  EXPECT_NE(host_->log().find("processNewPPD(nOptions=0)\n"), std::string::npos);
}

// CUPS keeps "lab1.ppd.O" beside the queue's PPD; whichever entry comes first,
// the backup is lab1.ppd as it was and lab1.ppd gets its own defaults.
TEST_F(PrinterUpdate, CupsBackupCopyDoesNotCostTheUserBackup) {
  REQUIRE_SANDBOX();
  std::string older = fixture("tessel_old.ppd");
  older.replace(older.find("*DefaultPageSize: Letter"), 24, "*DefaultPageSize: A4");
  older.replace(older.find("*DefaultInputSlot: Tray2"), 24, "*DefaultInputSlot: Tray1");
  for (const bool realFirst : {true, false}) {
    SetUp();
    if (realFirst) addQueue("lab1.ppd", fixture("tessel_old.ppd"));
    addQueue("lab1.ppd.O", older);
    if (!realFirst) addQueue("lab1.ppd", fixture("tessel_old.ppd"));
    EXPECT_EQ(update(), 1);
    EXPECT_EQ(host_->readFile("/etc/cups/lab1.ppd.rpmsave"), fixture("tessel_old.ppd")) << realFirst;
    EXPECT_EQ(host_->readFile("/etc/cups/ppd/lab1.ppd"), fixture("tessel_merged.ppd")) << realFirst;
    const std::string log = host_->log();
    EXPECT_EQ(countOf(log, "saving /etc/cups/ppd/lab1.ppd to /etc/cups/lab1.ppd.rpmsave: result=0"), 1) << log;
    EXPECT_EQ(countOf(log, "saving /etc/cups/ppd/lab1.ppd.O to /etc/cups/lab1.ppd.rpmsave: skipped"), 1) << log;
  }
}

TEST_F(PrinterUpdate, FullTmpLeavesTheQueuePPDWhole) {
  REQUIRE_SANDBOX();
  // A plain candidate of about 10 kB: its work copy fits, the merged one not.
  std::string big = fixture("tessel_new.ppd");
  for (int i = 0; i < 120; ++i) big += "*% padding line of the product's PPD file ......................\n";
  host_->remove(kCandidates);
  host_->writeFile(kCandidates + "/tessel1200.ppd", big);
  addQueue("lab1.ppd", fixture("tessel_old.ppd"));
  host_->writeFile("/opt/tam/lab1/root/velaConfig", "%%VELA_VERSION_1.0\n");
  ASSERT_EQ(host_->shell("mount -t tmpfs -o size=16k tmpfs /tmp").status, 0);
  EXPECT_EQ(update(), 1);
  EXPECT_EQ(host_->readFile("/etc/cups/ppd/lab1.ppd"), fixture("tessel_old.ppd"));
  const std::string log = host_->log();
  EXPECT_NE(log.find("Problem writing: /tmp/korot"), std::string::npos) << log;
  EXPECT_NE(log.find("Copying  to /etc/cups/ppd/lab1.ppd: result=-1\n"), std::string::npos) << log;
  EXPECT_EQ(host_->readFile("/opt/tam/lab1/root/velaConfig"), "%%VELA_VERSION_3.0\n");
  EXPECT_EQ(host_->listDir("/tmp"), std::vector<std::string>{});
}

// The installer itself upgrades a queue made from the previous generation of
// the product's PPDs with the compressed current one.
TEST(PrinterUpdateRun, SetupUpgradesAQueueOfThePreviousGeneration) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.installProduct();
  host.installStub("/usr/bin/systemctl");
  const std::string old = readWholeFile(VELA_OLD_PPD_DIR "/Marlo_Ardent_110-PCL.ppd");
  ASSERT_NE(old.find("*DefaultPageSize: Letter\n"), std::string::npos);
  host.writeFile("/etc/cups/ppd/lab1.ppd", old, 0640);
  const RunResult run = host.run({"/opt/tam/bin/setup"}, {.env = {"KORLPMODE=CUPS"}});
  EXPECT_EQ(run.status, 0) << run.err;

  const std::string merged = host.readFile("/etc/cups/ppd/lab1.ppd");
  for (const char* line : {"*DefaultPageSize: Letter\n", "*DefaultInputSlot: Tray1\n", "*DefaultResolution: 300dpi\n",
                           "*DefaultOutputBin: FaceDown\n", "*DefaultJCLEconomode: Off\n",
                           "*DefaultColorSep: ProcessBlack.60lpi.600dpi/60 lpi / 600 dpi\n"}) {
    EXPECT_NE(merged.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(host.readFile("/etc/cups/lab1.ppd.rpmsave"), old);
  const std::string log = host.log();
  EXPECT_NE(log.find("processNewPPD: Setting new option: *PageSize/Letter.\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Marlo_Ardent_110-PCL.ppd.gz.\n"), std::string::npos) << log;
}

}  // namespace
