// What a run says it has done is on disk: the real setup binary under strace in a sandbox host, an
// installation from elsewhere with three queues to update, a restore and a de-installation. Every file
// renamed into place has its directory synced, and every file that cp wrote its file system (or its
// own data), before CUPS is restarted and before the report is renamed into place, or else before
// the run ends.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <sstream>

#include "sandbox/sandbox_host.h"
#include "text_checks.h"

namespace {

// One system call of the trace that matters here: a sync names a file or directory, an fs sync any
// path on its file system.
struct TracedCall {
  enum Kind { kPlaced, kWritten, kSync, kFsSync, kMilestone } kind;
  std::string path;
};

std::string dirName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The path that strace -y shows of a descriptor in text, between < and >, or nothing.
std::string fdPath(const std::string& text) {
  const std::size_t from = text.find('<'), to = text.rfind('>');
  return from == std::string::npos || to == std::string::npos || to < from ? "" : text.substr(from + 1, to - from - 1);
}

// The calls of a trace written by strace -f -y that matter here, in their order: "PID name(args) = N"
// with a path after N when it is a descriptor. A call that another process interrupted comes in two
// lines, "<unfinished ...>" and "<... resumed>", joined first. Read by hand: std::regex recurses per
// character and overflows the stack on the long lines of an execve. The processes setup runs name
// absolute paths; a relative one matches no sync and so shows as not durable.
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

// The changes of calls not made durable in time, one line each. A sync of a directory covers what was
// renamed into it, a sync of a file or of its file system what cp wrote into it. The file system is
// told by the device of directories: an overlay gives its files the device of the layer below.
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

}  // namespace

TEST(Durability, EveryRenameAndCopyIsSyncedBeforeTheRestartAndTheReport) {
  REQUIRE_SANDBOX();
  const char* noStrace =
      access("/usr/bin/strace", X_OK) == 0 ? nullptr : "no /usr/bin/strace (scripts/install-deps.sh installs it)";
  if (noStrace && SandboxHost::onCi()) FAIL() << noStrace;
  if (noStrace) GTEST_SKIP() << noStrace;
  SandboxHost host;
  host.installProduct("/srv/vela");
  host.installSetup("/srv/vela");
  for (const char* path : {"/usr/sbin/service", "/etc/init.d/cups", "/etc/init.d/cupsys"}) host.remove(path);
  host.installStub("/usr/bin/systemctl");
  for (const std::string queue : {"lab1", "lab2", "lab3"})
    host.copyIn(VELA_OLD_PPD_DIR "/Marlo_Ardent_110-PCL.ppd", "/etc/cups/ppd/" + queue + ".ppd");
  // Each run with what it is answered and the renames it makes at least.
  const struct { std::vector<std::string> argv; std::string stdinText; long renames; } runs[] = {
      {{"/srv/vela/setup"}, "", 9}, {{"/opt/tam/bin/setup", "-r"}, "", 6}, {{"/opt/tam/bin/setup", "-d"}, "yes\n", 1}};
  for (const auto& run : runs) {
    SCOPED_TRACE(run.argv.back());
    std::vector<std::string> argv = {"/usr/bin/strace", "-f", "-y", "-qq", "-s", "4096", "-o", "/root/trace", "-e",
                                     "trace=rename,renameat,renameat2,fsync,fdatasync,syncfs,sync,openat,execve"};
    argv.insert(argv.end(), run.argv.begin(), run.argv.end());
    // LeakSanitizer cannot run under ptrace: a sanitizer build checks its leaks in the other tests.
    const RunResult result =
        host.run(argv, {.stdinText = run.stdinText, .env = {"KORLPMODE=CUPS", "ASAN_OPTIONS=detect_leaks=0"}});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::vector<TracedCall> calls = tracedCalls(host.readFile("/root/trace"));
    std::string paths;
    for (const TracedCall& call : calls) paths += dirName(call.path) + "\n" + call.path + "\n";
    std::map<std::string, std::string> device;
    std::istringstream devices(
        host.shell("while read -r p; do stat -c '%d %n' -- \"$p\" 2>/dev/null; done", {.stdinText = paths}).out);
    for (std::string id, path; devices >> id && std::getline(devices >> std::ws, path);) device[path] = id;
    EXPECT_GE(std::ranges::count(calls, TracedCall::kPlaced, &TracedCall::kind), run.renames);
    EXPECT_EQ(undurable(calls, device), std::vector<std::string>{}) << host.log();
  }
}
