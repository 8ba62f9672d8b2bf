// The real setup binary in a sandbox host, run from /opt/tam/bin as an administrator would,
// under hostile names, planted links, full disks, kills and odd hosts.
#include <chrono>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <sstream>

#include "sandbox/sandbox_host.h"
#include "text_checks.h"

namespace {

const std::string kOldPPD = VELA_OLD_PPD_DIR "/Marlo_Ardent_110-PCL.ppd";

std::string oldPPD() {
  std::ifstream in(kOldPPD, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

bool isNewPPD(const std::string& text) {
  return has(text, "*FileVersion: \"4.0.5\"") && text.ends_with("*% End of the Marlo printer description\n");
}

// Something on port 631 that is no working scheduler, answering each connection as its mode says: an
// endless HTTP header line, an empty HTTP answer, or (silent) none at all. The request is read first,
// the peer's end closed after.
const std::string kPeer = R"(use IO::Socket::INET; use IO::Select; $SIG{PIPE} = "IGNORE";
my %answer = (long => "HTTP/1.1 200 OK\r\nServer: CUPS/" . ("9" x 100000) . "\r\n\r\n",
              empty => "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
my $s = IO::Socket::INET->new(LocalAddr => "127.0.0.1:631", Listen => 50, ReuseAddr => 1) or die;
my @kept;
while (my $c = $s->accept) {
  if (!exists $answer{$ARGV[0]}) { push @kept, $c; next }
  my $sel = IO::Select->new($c); my $b;
  while ($sel->can_read(0.2)) { last unless sysread($c, $b, 65536) }
  print $c $answer{$ARGV[0]}; shutdown($c, 1);
  while ($sel->can_read(1)) { last unless sysread($c, $b, 65536) }
  close $c;
})";

// Shell text that starts the peer of /root/peer.pl in mode, without cups-config to ask instead.
std::string peerOn631(const std::string& mode) {
  return "rm /usr/bin/cups-config; setsid perl /root/peer.pl " + mode +
         " </dev/null >/dev/null 2>&1 & until nc -z 127.0.0.1 631; do sleep 0.1; done";
}

// The product in /opt/tam, queue lab1, a stub systemctl for restarts, stubs for touch and id to catch calls,
// and the peer at hand.
std::unique_ptr<SandboxHost> productHost() {
  auto host = std::make_unique<SandboxHost>();
  host->installProduct("/opt/tam");
  for (const char* path : {"/usr/sbin/service", "/etc/init.d/cups", "/etc/init.d/cupsys"}) host->remove(path);
  for (const char* path : {"/usr/bin/systemctl", "/usr/bin/touch", "/usr/bin/id"}) host->installStub(path);
  host->copyIn(kOldPPD, "/etc/cups/ppd/lab1.ppd");
  host->writeFile("/root/peer.pl", kPeer);
  return host;
}

RunOptions asAdministrator(std::vector<std::string> env = {"KORLPMODE=CUPS"}, uid_t uid = 0, unsigned timeout = 300) {
  return {.env = std::move(env), .uid = uid, .gid = uid, .cwd = "/opt/tam/bin", .timeoutSeconds = timeout};
}

// queue's PPD below root is the new one, and its backup the old one.
void expectUpdated(SandboxHost& host, const std::string& queue, const std::string& root = "") {
  EXPECT_TRUE(isNewPPD(host.readFile(root + "/etc/cups/ppd/" + queue + ".ppd"))) << queue << "\n" << host.log();
  EXPECT_EQ(host.readFile(root + "/etc/cups/" + queue + ".ppd.rpmsave"), oldPPD()) << queue;
}

}  // namespace

// Queue names, an installation directory (information file) and a CUPS root (start-up script), all full
// of shell syntax: each reaches its commands as one word and nothing else runs.
TEST(Hardening, HostileNamesReachCommandsAsOneWord) {
  REQUIRE_SANDBOX();
  const std::string dir = "/srv/v;id;$(id)`id`'q\"*", cups = "/srv/c;id;$(id)`id`'q\"";
  auto host = productHost();
  // What the * would match: the script's "delFile <dir>/bin/nc" must not reach it.
  const std::string neighbour = "/srv/v;id;$(id)`id`'q\" kept/bin/nc";
  host->writeFile(neighbour, "");
  host->makeDirs(dir);
  host->writeFile("/srv/info", "#\nUSRDIR          " + dir + "\n%%KOREND\n");
  host->writeFile("/etc/init.d/cups", "exec_prefix=/usr\nprefix=" + cups + "\n", 0755);
  const std::vector<std::string> queues = {"x;touch PWNED1", "$(touch PWNED2)", "a b `id` 'q\" $(id) \\", "-f", "lab1"};
  for (const std::string& queue : queues) host->copyIn(kOldPPD, cups + "/etc/cups/ppd/" + queue + ".ppd");
  // What an earlier killed run left unfinished beside a queue PPD is no queue.
  host->writeFile(cups + "/etc/cups/ppd/.vela-new-Ab12Cd", oldPPD().substr(0, 2000));
  host->startBackground({"/usr/bin/perl", "-e", "$0 = shift; sleep 1000", "/usr/sbin/cupsd -l"});
  const RunResult result = host->run({"/opt/tam/bin/setup"}, asAdministrator({"VELAINFO=/srv/info"}));
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(has(host->readFile(dir + "/velaInfo4.0"), "USRDIR          " + dir + "\n")) << host->log();
  EXPECT_FALSE(has(host->log(), "Printer : .vela-new-")) << host->log();
  for (const std::string& queue : queues) expectUpdated(*host, queue, cups);
  // The uninstall script removes that directory and runs nothing else.
  const RunResult removed = host->run({"/bin/sh", dir + "/etc/UNINSTALLVELA"}, {.stdinText = "yes\n"});
  EXPECT_EQ(removed.status, 0) << removed.err;
  EXPECT_FALSE(host->exists(dir));
  EXPECT_TRUE(host->exists(neighbour));
  EXPECT_EQ(host->stubCalls("/usr/bin/touch"), std::vector<std::string>{});
  EXPECT_EQ(host->stubCalls("/usr/bin/id"), std::vector<std::string>{});
}

TEST(Hardening, PlantedLinksAtPredictableTemporaryNamesAreNotFollowed) {
  REQUIRE_SANDBOX();
  auto host = productHost();
  host->copyIn(kOldPPD, "/etc/cups/ppd/lab2.ppd");
  // One process plants them all, for the view numbers its processes from 1; lab2's backup is a hard link.
  ASSERT_EQ(host->shell("echo victim > /etc/vela-victim && perl -e 'link(\"/etc/vela-victim\", "
                        "\"/etc/cups/lab2.ppd.rpmsave\") or exit 1; symlink(\"/etc/vela-victim\", $_) or exit 1 for "
                        "\"/var/tmp/VelaPPDFiles4.0-5.tar\", \"/var/log/Vela4.0_UpdateLog\", "
                        "\"/etc/cups/lab1.ppd.rpmsave\", map { (\"/tmp/KORLPD$_\", \"/tmp/KORLPRNG$_\") } 1..400'")
                .status, 0);
  host->writeFile("/opt/tam/velaInfo2.0", "#\n# Vela 2.0 Information File\n#\nUSRDIR          /opt/tam\n");
  // Without KORLPMODE and without a scheduler every process probe runs, and "lpd -V".
  EXPECT_EQ(host->run({"/opt/tam/bin/setup"}, asAdministrator({})).status, 0);
  EXPECT_TRUE(has(host->log(), "System Scheduler = Unknown\n")) << host->log();
  // Entries of the directory to archive that tar would read as options, the second running x.sh.
  const std::string log = host->log(), ppdDir = log.substr(log.rfind("PPD installation dir: ") + 22);
  for (const char* name : {"--checkpoint=1", "--checkpoint-action=exec=sh x.sh", "x.sh"})
    host->writeFile(ppdDir.substr(0, ppdDir.find('\n')) + "/" + name, "touch /PWNED\n");
  EXPECT_EQ(host->run({"/opt/tam/bin/setup"}, asAdministrator()).status, 0);
  EXPECT_TRUE(has(host->log(), "To: /var/tmp/VelaPPDFiles4.0-5.tar.\n")) << host->log();
  EXPECT_FALSE(host->isSymlink("/var/tmp/VelaPPDFiles4.0-5.tar") || host->exists("/PWNED"));
  EXPECT_EQ(host->shell("tar tf /var/tmp/VelaPPDFiles4.0-5.tar").out,
            "--checkpoint-action=exec=sh x.sh\n--checkpoint=1\nx.sh\n");
  for (const std::string queue : {"lab1", "lab2"}) expectUpdated(*host, queue);
  EXPECT_EQ(host->readFile("/etc/vela-victim"), "victim\n");
}

// SIGKILL to setup and its commands at 20 random moments of an update of 30 queues: each PPD is the old
// file or the complete new one, and each backup the complete old one when there is one.
TEST(Hardening, KilledUpdateLeavesWholePPDs) {
  REQUIRE_SANDBOX();
  auto host = productHost();
  for (int i = 2; i <= 30; ++i) host->copyIn(kOldPPD, "/etc/cups/ppd/q" + std::to_string(i) + ".ppd");
  // New PPDs of some 2 MB and old ones of some 0.8 MB keep each replacement and backup busy long enough to be hit.
  ASSERT_EQ(host->shell("pad() { { head -n -1 $1; yes '*% padding of a large PPD, padding of a large PPD' | head -n "
                        "$2; tail -n 1 $1; } > big && mv big $1; }; cd /opt/tam/ppd && p=Marlo_Ardent_110-PCL.ppd && "
                        "gzip -d $p.gz && pad $p 25000 && gzip $p && for q in /etc/cups/ppd/*; do pad $q 10000; done "
                        "&& mkdir /root/old && cp -p /etc/cups/ppd/* /root/old")
                .status, 0);
  // setup in the background as a process group of its own, once the log shows that the update began.
  const std::string startUpdate = "rm -f /var/log/Vela4.0_UpdateLog; setsid /opt/tam/bin/setup >/dev/null & until grep -qs '^Printer"
                                  " = ' /var/log/Vela4.0_UpdateLog || ! kill -0 $! 2>/dev/null; do sleep 0.01; done; ";
  const double seconds =
      std::stod(host->shell(startUpdate + "s=$(date +%s%N); wait; echo $(($(date +%s%N) - s))", asAdministrator()).out) / 1e9;
  ASSERT_TRUE(isNewPPD(host->readFile("/etc/cups/ppd/lab1.ppd"))) << host->log();
  ASSERT_EQ(host->shell("mkdir /root/new && cp -p /etc/cups/ppd/* /root/new/").status, 0);
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  std::map<std::string, int> seen;
  for (int kill = 0; kill < 20; ++kill) {
    const std::string delay = std::to_string(std::uniform_real_distribution<double>(0.0, seconds)(random));
    SCOPED_TRACE("seed " + std::to_string(seed) + ", killed after " + delay + " s");
    ASSERT_EQ(host->shell("rm -rf /etc/cups/ppd && mkdir /etc/cups/ppd && cp -p /root/old/* /etc/cups/ppd/").status, 0);
    host->shell(startUpdate + "sleep " + delay + "; kill -9 -$!; wait", asAdministrator());
    // Each queue PPD as "old", "new" or "torn <queue>", one line per queue; a torn backup as "torn <backup>".
    std::istringstream states(host->shell("cd /etc/cups/ppd && for f in /root/old/*; do q=${f##*/}; if cmp -s $q $f; "
                                          "then echo old; elif cmp -s $q /root/new/$q; then echo new; "
                                          "else echo torn $q; fi; b=../${q%.ppd}.ppd.rpmsave; "
                                          "if [ -e $b ] && ! cmp -s $b $f; then echo torn $b; fi; done").out);
    for (std::string state; std::getline(states, state); ++seen[state]) EXPECT_TRUE(state == "old" || state == "new") << state;
  }
  EXPECT_EQ(seen["old"] + seen["new"], 600) << seen["old"] << " old, " << seen["new"] << " new";
}

// Shell text that mounts a full tmpfs over dir, holding what dir held (and a sanitizer build's setup).
std::string fullTmpfsOn(const std::string& dir) {
  return "cp -a " + dir + " /root/saved && mount -t tmpfs -o size=64m tmpfs " + dir + " && cp -a /root/saved/. " + dir +
         " && { dd if=/dev/zero of=" + dir + "/zz-fill bs=4k 2>/dev/null || true; }";
}

// A host made odd for one run of setup, named in failures by what made it so.
struct OddHost {
  std::string prepare;  // run as root once the product is in place
  uid_t uid;
  bool logged, updated;  // whether the log can be written, whether lab1 gets its new PPD
  std::vector<std::string> lines;
  std::map<std::string, std::string> records = {};  // laid out before, and kept as they were
  std::vector<std::string> env = {"KORLPMODE=CUPS"};
  std::vector<std::string> removal = {};  // when given, the de-installation is answered yes and says these
};

void PrintTo(const OddHost& host, std::ostream* out) { *out << host.prepare << " as " << host.uid; }

// Full disks, odd hosts and users, pipes and devices where files are read, a scheduler that never answers.
std::vector<OddHost> oddHosts() {
  const std::string finished = "Finishing Vela 4.0-0 installation";
  const std::string asking = "Asking the CUPS scheduler for its jobs: ", noScheduler = "No CUPS scheduler answers: no "
                             "printing job to wait for before the restart.\n", reset = "CUPS reset returned with: 0\n";
  const std::string kept = "Keeping /etc/cups/ppd/lab1.ppd as it was: ";
  const std::string info = "#\n# Vela 4.0 Information File\n#\nUSRDIR          /opt/tam\n";
  const std::string noBackup = "saving /etc/cups/ppd/lab1.ppd to /etc/cups/lab1.ppd.rpmsave: result=-1\n" + kept +
                               "no complete backup in /etc/cups/lab1.ppd.rpmsave: ";
  const std::string fullCups = fullTmpfsOn("/etc/cups") + " && mount -t tmpfs tmpfs /etc/cups/ppd && cp -a "
                               "/root/saved/ppd/. /etc/cups/ppd";
  return {
      {fullTmpfsOn("/etc/cups/ppd"), 0, true, false, {kept + "write: No space left on device.\n"}},
      {fullCups, 0, true, false, {noBackup + "write: No space left on device.\n", finished}},
      {fullCups, 0, true, false, {noBackup, finished}, {{"/etc/cups/lab1.ppd.rpmsave", "earlier backup\n"}}},
      {fullTmpfsOn("/tmp"), 0, true, false, {"No space left on device!\n", kept, finished}},
      {fullTmpfsOn("/opt/tam"), 0, true, true,
       {"Cannot open file:\n\t'/opt/tam/velaInfo4.0',\nPlease check and try again.\nCould not write "
        "/opt/tam/velaInfo4.0: write: No space left on device. The previous file is kept.\n",
        "Cannot open file:\n\t'/opt/tam/etc/UNINSTALLVELA',\nPlease check and try again.\nCould not write "
        "/opt/tam/etc/UNINSTALLVELA: write: No space left on device. The previous script is kept.\n", finished},
       {{"/opt/tam/velaInfo2.0", info}, {"/opt/tam/velaInfo4.0", info + "# earlier\n"},
        {"/opt/tam/etc/UNINSTALLVELA", "#!/bin/sh\n"}}},
      {"", 1000, false, false, {"\tYou must be root to be able\n\tto install Vela!\n"}},
      {"mount --bind /var/log /var/log && mount -o remount,bind,ro /var/log", 0, false, true,
       {"to /etc/cups/ppd/lab1.ppd: result=0\n", "CUPS reset returned with: 0\n"}},
      {"umount /tmp && for i in $(seq 100); do rm -rf /tmp 2>/dev/null && break; done; test ! -e /tmp", 0, true, false,
       {"Cannot create a temporary file in /tmp: No such file or directory.\n", "CUPS Version : 1400//",
       kept + "no merged PPD.\n", finished}},
      {"mount --bind /etc/cups /etc/cups && mount -o remount,bind,ro /etc/cups", 0, true, false,
       {noBackup + "create file beside target: Read-only file system.\n", finished}},
      {"echo garbage >> /opt/tam/ppd/Marlo_Ardent_110-PCL.ppd.gz", 0, true, false,
       {"Problem decompressing: /tmp/korin", kept + "no merged PPD.\n", finished}},
      {"mkfifo /opt/tam/velaInfo2.0", 0, true, true, {"New installation", finished}},
      {"mkfifo /var/log/Vela4.0_UpdateLog", 0, false, true, {"New installation", "CUPS reset returned with: 0\n"}},
      {"", 0, true, true, {"New installation", finished}, {}, {"KORLPMODE=CUPS", "VELAINFO=/dev/zero"}},
      {"mkfifo /etc/cups/printers.conf /srv/fifo && mkdir -p /opt/tam/lab1/root && mkfifo /opt/tam/lab1/root/velaConfig "
       "&& " + peerOn631("silent"), 0, true, true,
       {"The HTTP probe of the CUPS version gave up after 5 seconds.\n", "CUPS Version : ", "New installation",
        asking + "no answer within 5 seconds.\n", noScheduler, reset, finished},
       {}, {"KORLPMODE=CUPS", "VELAINFO=/srv/fifo"}},
      // A scheduler that does not work is given up as none, before the restart.
      {peerOn631("long"), 0, true, true,
       {asking + "the answer is not an HTTP response.\n", noScheduler, reset, finished}},
      {peerOn631("empty"), 0, true, true,
       {asking + "the answer is not an IPP response.\n", noScheduler, reset, finished}},
      // The removal of queue lab1 from a scheduler that never answers is given up, in time.
      {peerOn631("silent"), 0, true, true, {asking + "no answer within 5 seconds.\n", noScheduler, reset, finished},
       {{"/opt/tam/velaInfo2.0", info + "%%KORBLOCK_PRINTERS_BEGIN\nDefault\nlab1\n%%KORBLOCK_PRINTERS_END\n"}},
       {"KORLPMODE=CUPS"},
       {"The HTTP probe of the CUPS version gave up after 5 seconds.\n", "Executing command:\n\t/usr/sbin/lpadmin "
        "-xlab1 2>/dev/null\nThe command was given up after 5 seconds.\nThe Vela printer lab1 may still be there: the "
        "CUPS scheduler did not answer within 5 seconds.\nDeleting the Vela printer: lab1.\n", finished,
        "Queues the scheduler did not answer the removal of: 1.\n"}},
  };
}

// Each run on an odd host (and a de-installation after it, in time) ends with its messages, in order, and status 0,
// the files it replaces stay whole, no work file stays behind, and a user other than root changes nothing
// at all. A test of its own for each host, so that each is bounded alone.
class FullDisksAndOddHosts : public ::testing::TestWithParam<OddHost> {};

TEST_P(FullDisksAndOddHosts, EndCleanly) {
  REQUIRE_SANDBOX();
  // One walk of the host's changes (it reads every changed file), kept below these paths.
  const auto listing = [](SandboxHost& host) {
    static const std::regex judged("\\S+ (/opt|/etc/cups|/var/tmp|/var/log|/tmp|/usr/share/ppd|/usr/bin)(/\\S*)?( .*)?");
    std::istringstream lines(host.changedEntries("/"));
    std::string entries;
    for (std::string line; std::getline(lines, line);) entries += std::regex_match(line, judged) ? line + "\n" : "";
    return entries;
  };
  const OddHost& c = GetParam();  // PrintTo names it in each failure
  auto host = productHost();
  for (const auto& [path, content] : c.records) host->writeFile(path, content);
  ASSERT_EQ(host->shell(c.prepare).status, 0);
  // Listed only where it is judged.
  const std::string before = c.uid == 0 ? "" : listing(*host);
  const RunOptions options = asAdministrator(c.env, c.uid, 60);
  const RunResult result = host->run({"/opt/tam/bin/setup"}, options);
  EXPECT_EQ(result.status, 0) << result.err;
  const std::string report = c.logged ? host->log() : result.err;
  expectInOrder(report, c.lines);
  const std::string lab1 = host->readFile("/etc/cups/ppd/lab1.ppd");
  EXPECT_TRUE(c.updated ? isNewPPD(lab1) : lab1 == oldPPD()) << report;
  for (const auto& [path, content] : c.records) EXPECT_EQ(host->readFile(path), content) << path;
  const std::string workFiles = "ls -a /etc/cups /etc/cups/ppd /opt/tam /opt/tam/etc /tmp /var/lib | grep -e vela-new -e ^kor -e HeldJobs";
  EXPECT_EQ(host->shell(workFiles).out, "");
  EXPECT_EQ(c.uid == 0 ? "" : listing(*host), before);
  RunOptions removal = options;
  removal.stdinText = c.removal.empty() ? "" : "yes\n";
  const auto start = std::chrono::steady_clock::now();
  const RunResult removed = host->run({"/opt/tam/bin/setup", "-d"}, removal);
  EXPECT_EQ(removed.status, 0) << removed.err;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(45));  // a sanitizer build on a busy machine
  if (!c.removal.empty()) expectInOrder(host->log() + removed.out, c.removal);
}

INSTANTIATE_TEST_SUITE_P(Each, FullDisksAndOddHosts, ::testing::ValuesIn(oddHosts()));
