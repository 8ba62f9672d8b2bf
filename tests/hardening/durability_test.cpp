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

namespace {

// One system call of the trace that matters here.
struct TracedCall {
  enum Kind { kPlaced, kWritten, kDirSync, kFileSync, kFsSync, kMilestone } kind;
  std::string path;
};

std::string dirName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The quoted strings of a call's arguments as strace prints them, escapes kept.
std::vector<std::string> quotedTexts(const std::string& args) {
  std::vector<std::string> texts;
  for (std::size_t at = args.find('"'); at != std::string::npos; at = args.find('"', at + 1)) {
    std::string text;
    for (++at; at < args.size() && args[at] != '"'; ++at) text += args[at] == '\\' ? args.substr(at++, 2) : args.substr(at, 1);
    texts.push_back(text);
  }
  return texts;
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
    const std::size_t resumed = line.find(" resumed>");
    if (line.ends_with(" <unfinished ...>")) {
      unfinished[pid] = line.substr(0, line.size() - 17);
      continue;
    }
    if (resumed != std::string::npos && unfinished.count(pid) != 0)
      line = unfinished.extract(pid).mapped() + line.substr(resumed + 9);
    // strace pads the ") = N" of short calls with spaces.
    const std::size_t open = line.find('(', pid.size()), result = line.rfind(" = ");
    const std::size_t close = result == std::string::npos ? result : line.find_last_not_of(' ', result);
    if (open == std::string::npos || close == std::string::npos || close <= open || line[close] != ')' ||
        !std::isdigit(line[result + 3]) || pid.find_first_not_of("0123456789") != std::string::npos)
      continue;
    const std::size_t nameAt = line.find_first_not_of(' ', pid.size());
    const std::string name = line.substr(nameAt, open - nameAt), args = line.substr(open + 1, close - open - 1);
    const std::size_t pathAt = line.find('<', result), pathEnd = line.find('>', pathAt);
    const std::string fdPath = pathAt == std::string::npos || pathEnd == std::string::npos
                                   ? "" : line.substr(pathAt + 1, pathEnd - pathAt - 1);
    const std::vector<std::string> texts = quotedTexts(args);
    if (name == "execve" && !texts.empty()) {
      if (texts[0].ends_with("/cp")) copying.insert(pid);
      if (args.find("restart cups") != std::string::npos || args.find("cups restart") != std::string::npos)
        calls.push_back({TracedCall::kMilestone, "restart"});
    } else if (name.starts_with("rename") && texts.size() == 2) {
      calls.push_back({TracedCall::kPlaced, texts[1]});
      if (texts[1].ends_with("_UpdateReport.json")) calls.push_back({TracedCall::kMilestone, "report"});
    } else if (name == "openat" && copying.count(pid) != 0 && !fdPath.empty() &&
               (args.find("O_WRONLY") != std::string::npos || args.find("O_RDWR") != std::string::npos)) {
      calls.push_back({TracedCall::kWritten, fdPath});
    } else if ((name == "fsync" || name == "fdatasync" || name == "syncfs") && args.find('<') != std::string::npos &&
               args.ends_with(">")) {
      const std::string synced = args.substr(args.find('<') + 1, args.size() - args.find('<') - 2);
      calls.push_back({name == "syncfs" ? TracedCall::kFsSync : TracedCall::kDirSync, synced});
    } else if (name == "sync") {
      calls.push_back({TracedCall::kFsSync, "/"});
    }
  }
  return calls;
}

// The changes of calls not made durable in time, one line each. A sync of a directory covers what was
// renamed into it, a sync of a file or of its file system what cp wrote into it. The file system is
// told by the device of directories: an overlay gives its files the device of the layer below.
std::vector<std::string> undurable(const std::vector<TracedCall>& calls, const std::map<std::string, std::string>& device) {
  const auto deviceOf = [&](const std::string& path) {
    const auto found = device.find(path);
    return found == device.end() ? "gone " + path : found->second;
  };
  std::vector<std::string> missing;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const TracedCall& change = calls[i];
    if (change.kind != TracedCall::kPlaced && change.kind != TracedCall::kWritten) continue;
    const std::string dir = dirName(change.path);
    bool synced = false;
    std::string by = "the end of the run";
    for (std::size_t j = i + 1; j < calls.size() && !synced; ++j) {
      const TracedCall& later = calls[j];
      if (later.kind == TracedCall::kMilestone && !(later.path == "report" && change.path.ends_with(".json"))) {
        by = later.path == "restart" ? "the restart" : "the report";
        break;
      }
      synced = change.kind == TracedCall::kPlaced
                   ? later.kind == TracedCall::kDirSync && later.path == dir
                   : (later.kind == TracedCall::kDirSync && later.path == change.path) ||
                         (later.kind == TracedCall::kFsSync && deviceOf(later.path) == deviceOf(dir));
    }
    if (!synced)
      missing.push_back(std::string(change.kind == TracedCall::kPlaced ? "renamed into place, directory" : "written by cp,") +
                        " not synced before " + by + ": " + change.path);
  }
  return missing;
}

}  // namespace

TEST(Durability, EveryRenameAndCopyIsSyncedBeforeTheRestartAndTheReport) {
  REQUIRE_SANDBOX();
  const char* noStrace = access("/usr/bin/strace", X_OK) == 0 ? nullptr : "no /usr/bin/strace (scripts/install-deps.sh installs it)";
  if (noStrace && SandboxHost::onCi()) FAIL() << noStrace;
  if (noStrace) GTEST_SKIP() << noStrace;
  SandboxHost host;
  host.installProduct("/srv/vela");
  host.installSetup("/srv/vela");
  for (const char* path : {"/usr/sbin/service", "/etc/init.d/cups", "/etc/init.d/cupsys"}) host.remove(path);
  host.installStub("/usr/bin/systemctl");
  for (const std::string queue : {"lab1", "lab2", "lab3"})
    host.copyIn(VELA_OLD_PPD_DIR "/Marlo_Ardent_110-PCL.ppd", "/etc/cups/ppd/" + queue + ".ppd");
  const struct {
    std::vector<std::string> argv;
    std::string stdinText;
    std::size_t renames;  // at least
  } runs[] = {
      {{"/srv/vela/setup"}, "", 9},
      {{"/opt/tam/bin/setup", "-r"}, "", 6},
      {{"/opt/tam/bin/setup", "-d"}, "yes\n", 1},
  };
  for (const auto& run : runs) {
    SCOPED_TRACE(run.argv.back());
    std::vector<std::string> argv = {"/usr/bin/strace", "-f", "-y", "-qq", "-s", "4096", "-o", "/root/trace", "-e",
                                     "trace=rename,renameat,renameat2,fsync,fdatasync,syncfs,sync,openat,execve"};
    argv.insert(argv.end(), run.argv.begin(), run.argv.end());
    // LeakSanitizer cannot run under ptrace: a sanitizer build checks its leaks in the other tests.
    const RunResult result = host.run(argv, {.stdinText = run.stdinText, .env = {"KORLPMODE=CUPS", "ASAN_OPTIONS=detect_leaks=0"}});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::vector<TracedCall> calls = tracedCalls(host.readFile("/root/trace"));
    std::string paths;
    for (const TracedCall& call : calls) paths += dirName(call.path) + "\n" + call.path + "\n";
    host.writeFile("/root/paths", paths);
    std::map<std::string, std::string> device;
    std::istringstream devices(host.shell("while read -r p; do stat -c '%d %n' -- \"$p\" 2>/dev/null; done < /root/paths").out);
    for (std::string id, path; devices >> id && std::getline(devices >> std::ws, path);) device[path] = id;
    EXPECT_GE(std::ranges::count(calls, TracedCall::kPlaced, &TracedCall::kind), static_cast<long>(run.renames));
    EXPECT_EQ(undurable(calls, device), std::vector<std::string>{}) << host.log();
  }
}
