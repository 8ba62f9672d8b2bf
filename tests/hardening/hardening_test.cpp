// The real setup binary in a sandbox host, run as an administrator would: under hostile names, planted links,
// full disks, kills and odd hosts, and under strace to see that what it has done is on disk.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
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

// Something on port 631 that is no working scheduler: after the request, an endless HTTP header line, an
// empty HTTP answer, or (silent) none at all.
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

// Shell text that starts that peer in mode, without cups-config to ask instead.
std::string peerOn631(const std::string& mode) {
  return "rm /usr/bin/cups-config; setsid perl -e '" + kPeer + "' " + mode +
         " </dev/null >/dev/null 2>&1 & until nc -z 127.0.0.1 631; do sleep 0.1; done";
}

// The product in dir with lab1's PPD only, queue lab1, stubs for systemctl and for touch and id to catch calls.
std::unique_ptr<SandboxHost> productHost(const std::string& dir = "/opt/tam") {
  auto host = std::make_unique<SandboxHost>();
  host->installProduct(dir, {"Marlo_Ardent_110-PCL.ppd.gz"});
  for (const char* path : {"/usr/sbin/service", "/etc/init.d/cups", "/etc/init.d/cupsys"}) host->remove(path);
  for (const char* path : {"/usr/bin/systemctl", "/usr/bin/touch", "/usr/bin/id"}) host->installStub(path);
  host->copyIn(kOldPPD, "/etc/cups/ppd/lab1.ppd");
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

// Links planted at predictable names and tar options among the PPDs to archive, then queue names, an installation
// directory (information file) and a CUPS root (start-up script) full of shell syntax: none is followed or run.
TEST(Hardening, PlantedLinksAndHostileNamesDoNoHarm) {
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
  EXPECT_FALSE(host->isSymlink("/var/tmp/VelaPPDFiles4.0-5.tar"));
  EXPECT_EQ(host->shell("tar tf /var/tmp/VelaPPDFiles4.0-5.tar").out,
            "--checkpoint-action=exec=sh x.sh\n--checkpoint=1\nx.sh\n");
  for (const std::string queue : {"lab1", "lab2"}) expectUpdated(*host, queue);
  EXPECT_EQ(host->readFile("/etc/vela-victim"), "victim\n");
  // The hostile names, with a scheduler found by its process.
  const std::string dir = "/srv/v;id;$(id)`id`'q\"*", cups = "/srv/c;id;$(id)`id`'q\"";
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

// SIGKILL to setup and its commands at 20 random moments of an update of 30 queues: no PPD or backup is torn.
TEST(Hardening, KilledUpdateLeavesWholePPDs) {
  REQUIRE_SANDBOX();
  auto host = productHost();
  // A new PPD of some 2 MB and old ones of some 0.8 MB keep each replacement and backup busy long enough to be hit.
  ASSERT_EQ(host->shell("pad() { { head -n -1 $1; yes '*% padding of a large PPD, padding of a large PPD' | head -n "
                        "$2; tail -n 1 $1; } > big && mv big $1; }; cd /opt/tam/ppd && p=Marlo_Ardent_110-PCL.ppd && "
                        "gzip -d $p.gz && pad $p 25000 && gzip $p && cd /etc/cups/ppd && pad lab1.ppd 10000 && "
                        "for i in $(seq 2 30); do cp -p lab1.ppd q$i.ppd; done && mkdir /root/old && cp -p * /root/old")
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
  for (int kill = 0; kill < 20; ++kill) {
    const std::string delay = std::to_string(std::uniform_real_distribution<double>(0.0, seconds)(random));
    SCOPED_TRACE("seed " + std::to_string(seed) + ", killed after " + delay + " s");
    ASSERT_EQ(host->shell("rm -rf /etc/cups/ppd && mkdir /etc/cups/ppd && cp -p /root/old/* /etc/cups/ppd/").status, 0);
    host->shell(startUpdate + "sleep " + delay + "; kill -9 -$!; wait", asAdministrator());
    // A line per queue: its PPD "old", "new" or "torn <queue>", then " torn <backup>" for a torn backup.
    const std::string states = host->shell("cd /etc/cups/ppd && for f in /root/old/*; do q=${f##*/}; if cmp -s $q $f; "
                                           "then printf old; elif cmp -s $q /root/new/$q; then printf new; else printf "
                                           "'torn %s' $q; fi; b=../${q%.ppd}.ppd.rpmsave; if [ -e $b ] && ! cmp -s $b "
                                           "$f; then printf ' torn %s' $b; fi; echo; done").out;
    EXPECT_EQ(countOf(states, "old\n") + countOf(states, "new\n"), 30u) << states;
  }
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

// Each run on an odd host, and a de-installation after it in time, ends with status 0 and its messages in order,
// leaves whole files and no work files, and as a user other than root changes nothing. A test each: each bounded.
class FullDisksAndOddHosts : public ::testing::TestWithParam<OddHost> {};

TEST_P(FullDisksAndOddHosts, EndCleanly) {
  REQUIRE_SANDBOX();
  const OddHost& c = GetParam();  // PrintTo names it in each failure
  auto host = productHost();
  for (const auto& [path, content] : c.records) host->writeFile(path, content);
  ASSERT_EQ(host->shell(c.prepare).status, 0);
  const std::string before = c.uid == 0 ? "" : host->changedEntries("/");
  RunOptions options = asAdministrator(c.env, c.uid, 60);
  const RunResult result = host->run({"/opt/tam/bin/setup"}, options);
  EXPECT_EQ(result.status, 0) << result.err;
  const std::string report = c.logged ? host->log() : result.err;
  expectInOrder(report, c.lines);
  const std::string lab1 = host->readFile("/etc/cups/ppd/lab1.ppd");
  EXPECT_TRUE(c.updated ? isNewPPD(lab1) : lab1 == oldPPD()) << report;
  for (const auto& [path, content] : c.records) EXPECT_EQ(host->readFile(path), content) << path;
  EXPECT_EQ(host->shell("ls -a /etc/cups /etc/cups/ppd /opt/tam /opt/tam/etc /tmp /var/lib | "
                        "grep -e vela-new -e ^kor -e HeldJobs").out, "");
  EXPECT_EQ(c.uid == 0 ? "" : host->changedEntries("/"), before);
  options.stdinText = c.removal.empty() ? "" : "yes\n";
  const auto start = std::chrono::steady_clock::now();
  const RunResult removed = host->run({"/opt/tam/bin/setup", "-d"}, options);
  EXPECT_EQ(removed.status, 0) << removed.err;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(45));  // a sanitizer build on a busy machine
  if (!c.removal.empty()) expectInOrder(host->log() + removed.out, c.removal);
}

INSTANTIATE_TEST_SUITE_P(Each, FullDisksAndOddHosts, ::testing::ValuesIn(oddHosts()));

// A system call that matters here: a sync names a file or directory, an fs sync any path on its file system.
struct TracedCall {
  enum Kind { kPlaced, kWritten, kSync, kFsSync, kMilestone } kind;
  std::string path;
};

std::string dirName(const std::string& path) { return std::filesystem::path(path).parent_path(); }

// The path that strace -y shows of a descriptor in text, between < and >, or nothing.
std::string fdPath(const std::string& text) {
  const std::size_t from = text.find('<'), to = text.rfind('>');
  return from == std::string::npos || to == std::string::npos || to < from ? "" : text.substr(from + 1, to - from - 1);
}

// The calls of a strace -f -y trace, in order: "PID name(args) = N <path of descriptor N>", an interrupted call
// joined from its "<unfinished ...>" and "<... resumed>" lines. Not std::regex: it overflows the stack on an execve.
std::vector<TracedCall> tracedCalls(const std::string& trace) {
  std::vector<TracedCall> calls;
  std::map<std::string, std::string> unfinished;
  std::set<std::string> copying;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    const std::string pid = line.substr(0, line.find(' '));
    if (line.ends_with(" <unfinished ...>")) {
      unfinished[pid] = line.substr(0, line.size() - 17);
      continue;
    }
    if (const std::size_t resumed = line.find(" resumed>"); resumed != std::string::npos && unfinished.count(pid))
      line = unfinished.extract(pid).mapped() + line.substr(resumed + 9);
    // strace pads the ") = N" of short calls with spaces.
    const std::size_t open = line.find('('), result = line.rfind(" = ");
    const std::size_t close = result == std::string::npos ? result : line.find_last_not_of(' ', result);
    if (close == std::string::npos || open >= close || line[close] != ')' || !std::isdigit(line[result + 3])) continue;
    const std::size_t nameAt = line.find_first_not_of(' ', pid.size());
    const std::string name = line.substr(nameAt, open - nameAt), args = line.substr(open + 1, close - open - 1);
    std::vector<std::string> texts;  // the quoted strings of the arguments, escapes kept
    for (std::size_t at = args.find('"'); at != std::string::npos; at = args.find('"', at + 1)) {
      const std::size_t from = at + 1;
      for (at = from; at < args.size() && args[at] != '"'; ++at) at += args[at] == '\\';
      texts.push_back(args.substr(from, at - from));
    }
    if (name == "execve" && !texts.empty()) {
      if (texts[0].ends_with("/cp")) copying.insert(pid);
      if (has(args, "restart cups") || has(args, "cups restart")) calls.push_back({TracedCall::kMilestone, "restart"});
    } else if (name.starts_with("rename") && texts.size() == 2) {
      calls.push_back({TracedCall::kPlaced, texts[1]});
      if (texts[1].ends_with("_UpdateReport.json")) calls.push_back({TracedCall::kMilestone, "report"});
    } else if (name == "openat" && copying.count(pid) && (has(args, "O_WRONLY") || has(args, "O_RDWR"))) {
      if (const std::string path = fdPath(line.substr(result)); !path.empty())
        calls.push_back({TracedCall::kWritten, path});
    } else if (name == "fsync" || name == "fdatasync" || name == "syncfs") {
      if (const std::string path = fdPath(args); !path.empty())
        calls.push_back({name == "syncfs" ? TracedCall::kFsSync : TracedCall::kSync, path});
    } else if (name == "sync") {
      calls.push_back({TracedCall::kFsSync, "/"});
    }
  }
  return calls;
}

// The changes not made durable in time, a line each. The file system is told by the device of directories:
// an overlay gives its files the device of the layer below.
std::vector<std::string> undurable(const std::vector<TracedCall>& calls,
                                   const std::map<std::string, std::string>& device) {
  const auto deviceOf = [&](const std::string& path) {
    const auto found = device.find(path);
    return found == device.end() ? "gone " + path : found->second;
  };
  std::vector<std::string> missing;
  for (auto change = calls.begin(); change != calls.end(); ++change) {
    if (change->kind != TracedCall::kPlaced && change->kind != TracedCall::kWritten) continue;
    const bool placed = change->kind == TracedCall::kPlaced;
    const std::string dir = dirName(change->path);
    std::string by = "the end of the run";
    bool synced = false;
    for (auto later = change + 1; later != calls.end() && !synced; ++later) {
      if (later->kind == TracedCall::kMilestone && !(later->path == "report" && change->path.ends_with(".json"))) {
        by = "the " + later->path;
        break;
      }
      synced = (later->kind == TracedCall::kSync && later->path == (placed ? dir : change->path)) ||
               (!placed && later->kind == TracedCall::kFsSync && deviceOf(later->path) == deviceOf(dir));
    }
    if (!synced)
      missing.push_back(std::string(placed ? "renamed into place, directory" : "written by cp,") +
                        " not synced before " + by + ": " + change->path);
  }
  return missing;
}

// What a run says it has done is on disk: under strace, each rename has its directory synced and each file cp
// wrote its data or file system, before the CUPS restart and the report's rename, or else before the run ends.
TEST(Durability, EveryRenameAndCopyIsSyncedBeforeTheRestartAndTheReport) {
  REQUIRE_SANDBOX();
  const char* noStrace =
      access("/usr/bin/strace", X_OK) == 0 ? nullptr : "no /usr/bin/strace (scripts/install-deps.sh installs it)";
  if (noStrace && SandboxHost::onCi()) FAIL() << noStrace;
  if (noStrace) GTEST_SKIP() << noStrace;
  auto host = productHost("/srv/vela");
  host->installSetup("/srv/vela");
  for (const std::string queue : {"lab2", "lab3"}) host->copyIn(kOldPPD, "/etc/cups/ppd/" + queue + ".ppd");
  // Each run with what it is answered and the renames it makes at least.
  const struct { std::string command, stdinText; long renames; } runs[] = {
      {"/srv/vela/setup", "", 9}, {"/opt/tam/bin/setup -r", "", 6}, {"/opt/tam/bin/setup -d", "yes\n", 1}};
  for (const auto& run : runs) {
    SCOPED_TRACE(run.command);
    // LeakSanitizer cannot run under ptrace: a sanitizer build checks its leaks in the other tests.
    const RunResult result = host->shell("KORLPMODE=CUPS ASAN_OPTIONS=detect_leaks=0 /usr/bin/strace -f -y -qq -s 4096 "
                                         "-o /root/trace -e trace=rename,renameat,renameat2,fsync,fdatasync,syncfs,"
                                         "sync,openat,execve " + run.command, {.stdinText = run.stdinText});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::vector<TracedCall> calls = tracedCalls(host->readFile("/root/trace"));
    std::string paths;
    for (const TracedCall& call : calls) paths += dirName(call.path) + "\n" + call.path + "\n";
    std::map<std::string, std::string> device;
    std::istringstream devices(
        host->shell("while read -r p; do stat -c '%d %n' -- \"$p\" 2>/dev/null; done", {.stdinText = paths}).out);
    for (std::string id, path; devices >> id && std::getline(devices >> std::ws, path);) device[path] = id;
    EXPECT_GE(std::ranges::count(calls, TracedCall::kPlaced, &TracedCall::kind), run.renames);
    EXPECT_EQ(undurable(calls, device), std::vector<std::string>{}) << host->log();
  }
}
