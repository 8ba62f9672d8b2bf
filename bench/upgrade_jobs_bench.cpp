// What an upgrade does to the jobs of a busy print server: on a sandbox host
// with the real scheduler, the product's two queues of the previous
// generation print on a slow backend (2 seconds a job); 20 jobs are
// submitted, setup runs while two of them are printing, and every job is
// followed to its end. Three runs; one closing line for all of them.
//
//   upgrade_jobs_bench [jobs per run] [runs]
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "sandbox/slow_printing.h"
#include "sandbox/upgrade_scenario.h"

namespace {

const std::vector<std::string> kQueues = {"lab1", "lab2"};

// One upgrade of a host with jobs in print; throws when the host cannot be made.
JobTally upgradeWhilePrinting(int jobCount) {
  SandboxHost host;
  RealCups cups(host);
  if (const std::string failed = prepareUpgradeHost(host, cups); !failed.empty()) throw std::runtime_error(failed);
  if (const std::string failed = useSlowBackend(host, kQueues, 2); !failed.empty()) throw std::runtime_error(failed);
  const std::vector<std::string> jobs = submitJobs(host, kQueues, jobCount);
  if (!waitUntilPrinting(host, 2, 60)) throw std::runtime_error("no two jobs printing");
  const RunResult run = host.run({"/opt/tam/bin/setup"});
  if (run.status != 0) throw std::runtime_error("setup ended with " + std::to_string(run.status) + ": " + run.err);
  const JobTally tally = tallyJobs(host, cups, jobs, 30 + 2 * static_cast<unsigned>(jobCount));
  // Each run's own tally and how its restart went, on standard error.
  std::fprintf(stderr, "%s\n", tally.line().c_str());
  std::istringstream log(host.log());
  for (std::string line; std::getline(log, line);) {
    if (line.starts_with("Waited") || line.starts_with("No CUPS") || line.starts_with("CUPS re"))
      std::fprintf(stderr, "  %s\n", line.c_str());
  }
  return tally;
}

}  // namespace

int main(int argc, char** argv) {
  if (const std::string& whyNot = SandboxHost::unavailableReason(); !whyNot.empty()) {
    std::fprintf(stderr, "sandbox host unavailable: %s\n", whyNot.c_str());
    return 1;
  }
  if (const std::string whyNot = RealCups::unavailableReason(); !whyNot.empty()) {
    std::fprintf(stderr, "real CUPS unavailable: %s\n", whyNot.c_str());
    return 1;
  }
  const int jobCount = argc > 1 ? std::atoi(argv[1]) : 20;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
  JobTally total;
  for (int run = 0; run < runs; ++run) {
    try {
      total += upgradeWhilePrinting(jobCount);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "run %d: %s\n", run + 1, e.what());
      return 1;
    }
  }
  std::printf("%s\n", total.line().c_str());
  return total.startedTwice == 0 && total.lost == 0 && total.pending == 0 ? 0 : 1;
}
