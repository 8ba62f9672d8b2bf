// How long the roll-out playbook takes as the fleet grows: for each fleet
// size, sandbox print servers reached over SSH, each a CUPS host with the
// product's two queues of the previous generation, get the roll-out of the
// whole group at once (Ansible's five forks) and, on a fleet made afresh,
// the roll-out in the waves [1, 2, 3]. One line per fleet size.
//
//   fleet_rollout_bench [hosts per fleet ...]     (default: 3 6)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "sandbox/fleet.h"
#include "sandbox/upgrade_scenario.h"

namespace {

// Seconds the roll-out with the given options takes on a fresh fleet of
// hostCount upgrade hosts; throws when the fleet cannot be made or a host fails.
double timedRollOut(int hostCount, const std::string& options) {
  std::vector<std::string> names;
  for (int i = 1; i <= hostCount; ++i) names.push_back("ps" + std::to_string(i));
  Fleet fleet(names);
  std::vector<std::unique_ptr<RealCups>> cups;
  for (const std::string& name : names) {
    cups.push_back(std::make_unique<RealCups>(fleet.host(name)));
    if (const std::string failed = prepareUpgradeHost(fleet.host(name), *cups.back()); !failed.empty())
      throw std::runtime_error(name + ": " + failed);
  }
  fleet.stageRollOut();
  const auto start = std::chrono::steady_clock::now();
  const RunResult run = fleet.rollOut(options);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (run.status != 0) throw std::runtime_error("the roll-out failed: " + run.out + run.err);
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  if (const std::string& whyNot = SandboxHost::unavailableReason(); !whyNot.empty()) {
    std::fprintf(stderr, "sandbox host unavailable: %s\n", whyNot.c_str());
    return 1;
  }
  for (const std::string& whyNot : {RealCups::unavailableReason(), Fleet::unavailableReason()}) {
    if (!whyNot.empty()) {
      std::fprintf(stderr, "no fleet: %s\n", whyNot.c_str());
      return 1;
    }
  }
  std::vector<int> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
  if (sizes.empty()) sizes = {3, 6};
  for (const int size : sizes) {
    try {
      const double atOnce = timedRollOut(size, "");
      const double inWaves = timedRollOut(size, "-e vela_waves=1,2,3");
      std::printf("%d hosts: at once %.1f s (%.1f s a host), in waves [1, 2, 3] %.1f s\n", size, atOnce, atOnce / size,
                  inWaves);
      std::fflush(stdout);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%d hosts: %s\n", size, e.what());
      return 1;
    }
  }
  return 0;
}
