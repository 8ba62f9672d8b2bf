// The installer under hostile names, planted links, full disks, kills and
// odd hosts: the real setup binary in a sandbox host, run as an
// administrator would run it from /opt/tam/bin.
#include <unistd.h>

#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/sandbox_host.h"

namespace {

const std::string kOldPPD = VELA_OLD_PPD_DIR "/Marlo_Ardent_110-PCL.ppd";
const std::string kNewMarker = "*FileVersion: \"4.0.5\"";
const std::string kNewLastLine = "*% End of the Marlo printer description\n";
const std::string kVictim = "/etc/vela-victim";

std::string oldPPD() {
  std::ostringstream text;
  text << std::ifstream(kOldPPD, std::ios::binary).rdbuf();
  return text.str();
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

bool isNewPPD(const std::string& text) { return contains(text, kNewMarker) && text.ends_with(kNewLastLine); }

// The product in /opt/tam, no restart but a stub systemctl, and touch and id
// replaced by stubs that record every call: hostile names try to run them.
std::unique_ptr<SandboxHost> productHost() {
  auto host = std::make_unique<SandboxHost>();
  host->installProduct("/opt/tam");
  for (const char* path : {"/usr/sbin/service", "/etc/init.d/cups", "/etc/init.d/cupsys"}) host->remove(path);
  for (const char* path : {"/usr/bin/systemctl", "/usr/bin/touch", "/usr/bin/id"}) host->installStub(path);
  host->makeDirs("/etc/cups/ppd");
  return host;
}

void addQueue(SandboxHost& host, const std::string& queue) { host.copyIn(kOldPPD, "/etc/cups/ppd/" + queue + ".ppd"); }

RunOptions asAdministrator(std::vector<std::string> env = {"KORLPMODE=CUPS"}, uid_t uid = 0) {
  return {.env = std::move(env), .uid = uid, .gid = uid, .cwd = "/opt/tam/bin", .timeoutSeconds = 120};
}

RunResult runSetup(SandboxHost& host, const RunOptions& options = asAdministrator()) {
  return host.run({"/opt/tam/bin/setup"}, options);
}

void expectNothingElseRan(const SandboxHost& host) {
  EXPECT_EQ(host.stubCalls("/usr/bin/touch"), std::vector<std::string>{});
  EXPECT_EQ(host.stubCalls("/usr/bin/id"), std::vector<std::string>{});
}

}  // namespace

TEST(Hardening, HostileQueueNamesReachCommandsAsOneWord) {
  REQUIRE_SANDBOX();
  auto host = productHost();
  const std::vector<std::string> queues = {"x;touch PWNED1", "$(touch PWNED2)", "a b `id` 'q\" $(id) \\", "-f", "lab1"};
  for (const std::string& queue : queues) addQueue(*host, queue);
  const RunResult result = runSetup(*host);
  EXPECT_EQ(result.status, 0) << result.err;
  expectNothingElseRan(*host);
  for (const std::string& queue : queues) {
    EXPECT_TRUE(isNewPPD(host->readFile("/etc/cups/ppd/" + queue + ".ppd"))) << queue << "\n" << host->log();
    EXPECT_EQ(host->readFile("/etc/cups/" + queue + ".ppd.rpmsave"), oldPPD()) << queue;
  }
}

// An installation directory named by the information file and a CUPS root
// named by the start-up script, both full of shell syntax.
TEST(Hardening, HostileDirectoriesReachCommandsAsOneWord) {
  REQUIRE_SANDBOX();
  auto host = productHost();
  const std::string dir = "/srv/v;id;$(id)`id`'q\"*";
  // What the * would match: the script's "delFile <dir>/bin/nc" must not reach it.
  const std::string neighbour = "/srv/v;id;$(id)`id`'q\" kept/bin/nc";
  host->writeFile(neighbour, "");
  const std::string cups = "/srv/c;id;$(id)`id`'q\"";
  host->makeDirs(dir);
  host->writeFile("/srv/info", "#\nUSRDIR          " + dir + "\n%%KOREND\n");
  host->writeFile("/etc/init.d/cups", "exec_prefix=/usr\nprefix=" + cups + "\n", 0755);
  host->copyIn(kOldPPD, cups + "/etc/cups/ppd/lab1.ppd");
  host->startBackground({"/usr/bin/perl", "-e", "$0 = shift; sleep 1000", "/usr/sbin/cupsd -l"});
  const RunResult result = runSetup(*host, asAdministrator({"VELAINFO=/srv/info"}));
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(host->exists(dir + "/bin/setup")) << host->log();
  EXPECT_TRUE(contains(host->readFile(dir + "/velaInfo4.0"), "USRDIR          " + dir + "\n"));
  EXPECT_TRUE(isNewPPD(host->readFile(cups + "/etc/cups/ppd/lab1.ppd"))) << host->log();
  EXPECT_EQ(host->readFile(cups + "/etc/cups/lab1.ppd.rpmsave"), oldPPD());
  // The uninstall script removes that directory and runs nothing else.
  const RunResult removed = host->run({"/bin/sh", dir + "/etc/UNINSTALLVELA"}, {.stdinText = "yes\n"});
  EXPECT_EQ(removed.status, 0) << removed.err;
  EXPECT_FALSE(host->exists(dir));
  EXPECT_TRUE(host->exists(neighbour));
  expectNothingElseRan(*host);
}

TEST(Hardening, PlantedLinksAtPredictableTemporaryNamesAreNotFollowed) {
  REQUIRE_SANDBOX();
  auto host = productHost();
  host->writeFile(kVictim, "victim\n");
  // Planted without a process per link: the view numbers its processes from 1.
  const int planted = host->inside([] {
    int failed = ::symlink(kVictim.c_str(), "/var/tmp/VelaPPDFiles4.0-5.tar");
    for (int pid = 1; pid <= 400; ++pid) {
      for (std::string name : {"/tmp/KORLPD", "/tmp/KORLPRNG"}) {
        failed |= ::symlink(kVictim.c_str(), (name + std::to_string(pid)).c_str());
      }
    }
    return failed == 0 ? 0 : 1;
  });
  ASSERT_EQ(planted, 0);
  host->writeFile("/opt/tam/velaInfo2.0", "#\n# Vela 2.0 Information File\n#\nUSRDIR          /opt/tam\n");
  addQueue(*host, "lab1");
  // Without KORLPMODE and without a scheduler every process probe runs, and "lpd -V".
  EXPECT_EQ(runSetup(*host, asAdministrator({})).status, 0);
  EXPECT_TRUE(contains(host->log(), "System Scheduler = Unknown\n")) << host->log();
  EXPECT_EQ(runSetup(*host).status, 0);
  EXPECT_TRUE(contains(host->log(), "To: /var/tmp/VelaPPDFiles4.0-5.tar.\n")) << host->log();
  EXPECT_FALSE(host->isSymlink("/var/tmp/VelaPPDFiles4.0-5.tar"));
  EXPECT_TRUE(isNewPPD(host->readFile("/etc/cups/ppd/lab1.ppd")));
  EXPECT_EQ(host->readFile(kVictim), "victim\n");
}

// SIGKILL at random moments of an update of 30 queues: each queue PPD is
// always either the old file or the complete new one.
TEST(Hardening, KilledUpdateLeavesWholePPDs) {
  REQUIRE_SANDBOX();
  auto host = productHost();
  for (int i = 1; i <= 30; ++i) addQueue(*host, "q" + std::to_string(i));
  // A new PPD of some 2 MB keeps each replacement busy long enough to be hit.
  ASSERT_EQ(host->shell("cd /opt/tam/ppd && p=Marlo_Ardent_110-PCL.ppd && gzip -d $p.gz && { head -n -1 $p; "
                        "yes '*% padding of a large PPD, padding of a large PPD, padding of a large PPD' | "
                        "head -n 25000; tail -n 1 $p; } > big && mv big $p && gzip $p && "
                        "mkdir /root/old && cp -p /etc/cups/ppd/* /root/old/")
                .status,
            0);
  host->writeFile("/etc/cups/ppd/.vela-new-Ab12Cd", oldPPD().substr(0, 2000));
  const std::string restore = "rm -rf /etc/cups/ppd && mkdir /etc/cups/ppd && cp -p /root/old/* /etc/cups/ppd/";

  // setup in the background, once the log shows that the update began.
  const std::string startUpdate =
      "rm -f /var/log/Vela4.0_UpdateLog; /opt/tam/bin/setup & until grep -qs '^Printer = ' "
      "/var/log/Vela4.0_UpdateLog || ! kill -0 $! 2>/dev/null; do sleep 0.01; done; ";
  const RunResult timed = host->shell(
      startUpdate + "s=$(date +%s.%N); wait; e=$(date +%s.%N); awk \"BEGIN { print $e - $s }\"", asAdministrator());
  const double seconds = std::stod(timed.out);
  ASSERT_TRUE(isNewPPD(host->readFile("/etc/cups/ppd/q1.ppd"))) << host->log();
  // What an earlier killed run left unfinished beside a queue PPD is no queue.
  EXPECT_FALSE(contains(host->log(), "Printer : .vela-new-")) << host->log();
  host->remove("/etc/cups/ppd/.vela-new-Ab12Cd");
  ASSERT_EQ(host->shell("mkdir /root/new && cp -p /etc/cups/ppd/* /root/new/").status, 0);
  // Each queue PPD as "old", "new" or "torn", one word per queue.
  const std::string judge =
      "cd /etc/cups/ppd && for f in /root/old/*; do q=${f##*/}; if cmp -s $q $f; then echo old; "
      "elif cmp -s $q /root/new/$q; then echo new; else echo torn $q; fi; done";

  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> moment(0.0, seconds);
  std::map<std::string, int> seen;
  for (int kill = 0; kill < 20; ++kill) {
    ASSERT_EQ(host->shell(restore).status, 0);
    const std::string delay = std::to_string(moment(random));
    SCOPED_TRACE("seed " + std::to_string(seed) + ", killed after " + delay + " s");
    host->shell(startUpdate + "sleep " + delay + "; kill -9 $!; wait", asAdministrator());
    std::istringstream states(host->shell(judge).out);
    for (std::string state; std::getline(states, state);) {
      ++seen[state.substr(0, 4)];
      EXPECT_NE(state.substr(0, 4), "torn") << state;
    }
  }
  EXPECT_EQ(seen["old"] + seen["new"], 600);
  std::printf("After the kills: %d old and %d new PPDs; update time %.2f s\n", seen["old"], seen["new"], seconds);
}

struct HostCase {
  const char* name;
  std::string prepare;  // run as root once the product and lab1 are in place
  uid_t uid;
  bool logged;                     // whether the log file can be written
  std::vector<std::string> lines;  // what the run reports, in this order
  bool updated;                    // whether lab1 gets its new PPD
  bool records = false;            // whether the information file and script are laid out to be kept
};

// Shell text that fills the file system of dir, once a tmpfs has been
// mounted there over what it held (room enough for a sanitizer build's
// setup binary in /opt/tam/bin).
std::string fullTmpfsOn(const std::string& dir) {
  return "cp -a " + dir + " /root/saved && mount -t tmpfs -o size=64m tmpfs " + dir + " && cp -a /root/saved/. " + dir +
         " && { dd if=/dev/zero of=" + dir + "/zz-fill bs=4k 2>/dev/null || true; }";
}

// Full disks, odd hosts and users: the run ends with its messages and status
// 0, the files it replaces stay whole, and a user other than root changes
// nothing at all.
TEST(Hardening, FullDisksAndOddHostsEndCleanly) {
  REQUIRE_SANDBOX();
  const std::string finished = "Finishing Vela 4.0-0 installation";
  const std::string kept = "Keeping /etc/cups/ppd/lab1.ppd as it was: ";
  const std::string info = "#\n# Vela 4.0 Information File\n#\nUSRDIR          /opt/tam\n";
  const HostCase cases[] = {
      {"full /etc/cups/ppd", fullTmpfsOn("/etc/cups/ppd"), 0, true, {kept + "write: No space left on device.\n"},
       false},
      {"full /tmp", fullTmpfsOn("/tmp"), 0, true, {"No space left on device!\n", kept, finished}, false},
      {"full /opt/tam", fullTmpfsOn("/opt/tam"), 0, true,
       {"Could not write /opt/tam/velaInfo4.0: write: No space left on device. The previous file is kept.\n",
        "Could not write /opt/tam/etc/UNINSTALLVELA: write: No space left on device. The previous script is kept.\n",
        finished},
       true, true},
      {"not root", "", 1000, false, {"\tYou must be root to be able\n\tto install Vela!\n"}, false},
      {"read-only /var/log", "mount --bind /var/log /var/log && mount -o remount,bind,ro /var/log", 0, false,
       {"to /etc/cups/ppd/lab1.ppd: result=0\n", "CUPS reset returned with: 0\n"}, true},
      {"no /tmp", "umount /tmp && for i in 1 2 3 4 5; do rm -rf /tmp 2>/dev/null && break; done; test ! -e /tmp", 0,
       true,
       {"Cannot create a temporary file in /tmp: No such file or directory.\n", "CUPS Version : 1400//",
        kept + "no merged PPD.\n", finished},
       false},
      {"read-only /etc/cups", "mount --bind /etc/cups /etc/cups && mount -o remount,bind,ro /etc/cups", 0, true,
       {kept + "create file beside target: Read-only file system.\n", finished}, false},
  };
  const std::string listing = "ls -laR --full-time /opt /etc/cups /var/tmp /var/log /tmp /usr/share/ppd 2>&1; "
                              "ls -la --full-time /usr/bin/korgsfilter 2>&1";
  for (const HostCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto host = productHost();
    addQueue(*host, "lab1");
    const std::vector<std::pair<std::string, std::string>> replaced = {{"/opt/tam/velaInfo2.0", info},
                                                                       {"/opt/tam/velaInfo4.0", info + "# earlier\n"},
                                                                       {"/opt/tam/etc/UNINSTALLVELA", "#!/bin/sh\n"}};
    for (const auto& [path, content] : replaced) {
      if (c.records) host->writeFile(path, content);
    }
    ASSERT_EQ(host->shell(c.prepare).status, 0);
    const std::string before = host->shell(listing).out;
    const RunResult result = runSetup(*host, asAdministrator({"KORLPMODE=CUPS"}, c.uid));
    EXPECT_EQ(result.status, 0) << result.err;
    const std::string report = c.logged ? host->log() : result.err;
    std::size_t at = 0;
    for (const std::string& line : c.lines) {
      at = report.find(line, at == std::string::npos ? 0 : at);
      EXPECT_NE(at, std::string::npos) << line << "\n---\n" << report << "\n---\n" << result.err;
    }
    const std::string lab1 = host->readFile("/etc/cups/ppd/lab1.ppd");
    EXPECT_EQ(c.updated ? isNewPPD(lab1) : lab1 == oldPPD(), true) << report;
    for (const auto& [path, content] : replaced) EXPECT_TRUE(!c.records || host->readFile(path) == content) << path;
    EXPECT_EQ(host->shell("ls -a /etc/cups/ppd /opt/tam /opt/tam/etc | grep vela-new").out, "");
    EXPECT_TRUE(c.uid == 0 || host->shell(listing).out == before);
  }
}
