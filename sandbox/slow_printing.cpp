// The slow backend and the count of job starts, read from the files the
// backend appends to: one line with the job id at each start and each end.
#include "sandbox/slow_printing.h"

#include <algorithm>
#include <chrono>
#include <sstream>
#include <thread>

namespace {

const std::string kStarted = std::string(RealCups::kOutputDir) + "/started";
const std::string kFinished = std::string(RealCups::kOutputDir) + "/finished";

// Run by the scheduler as root (mode 0700): job-id user title copies options [file].
std::string backendScript(unsigned seconds) {
  return "#!/bin/sh\n"
         "[ $# -eq 0 ] && { echo 'direct slow \"Unknown\" \"Slow test printer\"'; exit 0; }\n"
         "echo \"$1\" >> " + kStarted + "\n"
         "cat ${6:+\"$6\"} > /dev/null\n"
         "[ \"$3\" = " + kEndlessJobTitle + " ] && sleep 100000\n"
         "sleep " + std::to_string(seconds) + "\n"
         "echo \"$1\" >> " + kFinished + "\n";
}

int countLines(const std::string& text, const std::string& line) {
  std::istringstream lines(text);
  int count = 0;
  for (std::string each; std::getline(lines, each);) count += each == line ? 1 : 0;
  return count;
}

std::string readIfThere(SandboxHost& host, const std::string& path) {
  return host.exists(path) ? host.readFile(path) : "";
}

}  // namespace

JobTally& JobTally::operator+=(const JobTally& other) {
  submitted += other.submitted;
  completedOnce += other.completedOnce;
  startedTwice += other.startedTwice;
  lost += other.lost;
  pending += other.pending;
  return *this;
}

std::string JobTally::line() const {
  std::ostringstream text;
  text << "jobs across an upgrade: " << submitted << " submitted, " << completedOnce << " completed once, "
       << startedTwice << " started twice or more, " << lost << " lost, " << pending << " pending";
  return text.str();
}

std::string useSlowBackend(SandboxHost& host, const std::vector<std::string>& queues, unsigned seconds) {
  host.writeFile("/usr/lib/cups/backend/slow", backendScript(seconds), 0700);
  for (const std::string& queue : queues) {
    const RunResult moved = host.run({"/usr/sbin/lpadmin", "-p", queue, "-v", "slow:/" + queue});
    if (moved.status != 0) return "lpadmin -p " + queue + " -v slow:/: " + moved.err;
  }
  return {};
}

std::vector<std::string> submitJobs(SandboxHost& host, const std::vector<std::string>& queues, int count,
                                    const std::string& title) {
  host.writeFile("/root/job.txt", "a page\n");
  std::vector<std::string> ids;
  for (int i = 0; i < count; ++i) {
    const std::string queue = queues[static_cast<std::size_t>(i) % queues.size()];
    const RunResult job = host.run({"/usr/bin/lp", "-d", queue, "-o", "raw", "-t", title, "/root/job.txt"});
    // "request id is lab1-12 (1 file(s))"
    const std::size_t dash = job.out.find(queue + "-");
    if (dash != std::string::npos) ids.push_back(job.out.substr(dash + queue.size() + 1, job.out.find(' ', dash) - dash - queue.size() - 1));
  }
  return ids;
}

bool waitUntilPrinting(SandboxHost& host, int jobs, unsigned seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    const std::string started = readIfThere(host, kStarted), finished = readIfThere(host, kFinished);
    const auto lines = [](const std::string& text) { return std::count(text.begin(), text.end(), '\n'); };
    if (lines(started) - lines(finished) >= jobs) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

JobTally tallyJobs(SandboxHost& host, RealCups& cups, const std::vector<std::string>& jobIds, unsigned seconds) {
  cups.waitUntilRunning(60);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  std::string queued;
  do {
    queued = host.run({"/usr/bin/lpstat", "-o"}).out;
    if (queued.empty()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  } while (std::chrono::steady_clock::now() < deadline);

  const std::string started = readIfThere(host, kStarted), finished = readIfThere(host, kFinished);
  JobTally tally;
  tally.submitted = static_cast<int>(jobIds.size());
  for (const std::string& id : jobIds) {
    const int starts = countLines(started, id), ends = countLines(finished, id);
    const bool inQueue = queued.find("-" + id + " ") != std::string::npos;
    if (starts >= 2) ++tally.startedTwice;
    else if (starts == 1 && ends == 1) ++tally.completedOnce;
    if (inQueue) ++tally.pending;
    else if (ends == 0) ++tally.lost;
  }
  return tally;
}
