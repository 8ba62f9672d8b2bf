// What the syncs that make a run durable cost: an upgrade of 2,000 queues
// (the product's previous PPD generation, models taken in turn) by the real
// setup in a sandbox host whose /etc/cups and /opt lie on this machine's own
// disk (a directory in /var/tmp bound into the view, removed afterwards), so
// that a sync waits for the disk as it would on a print server. Runs with
// the syncs and without them (no_dir_sync.so preloaded) take turns; prints
// each run, the time setup itself spent in the syncs (its debug lines), and
// the medians.
//
//   sync_cost_bench [queues [pairs]]
#include <dirent.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/old_product_ppds.h"
#include "sandbox/sandbox_host.h"

namespace {

// Binds a fresh directory of this machine's disk over path in the view, with
// what the view held there. Empty on success, else what failed.
std::string putOnDisk(SandboxHost& host, const std::string& diskDir, const std::string& path) {
  const std::string ns = host.namespacePath("mnt");
  const std::string root = ns.substr(0, ns.rfind("/ns/")) + "/root";
  const std::string saved = "/root/saved" + path;
  if (host.shell("mkdir -p " + saved + " && cp -a " + path + "/. " + saved).status != 0) return "save " + path;
  const std::string bind = "mkdir -p " + diskDir + path + " && nsenter --mount=" + ns + " -- mount --bind " + diskDir +
                           path + " " + root + path;
  if (std::system(bind.c_str()) != 0) return "bind " + diskDir + path;
  if (host.shell("cp -a " + saved + "/. " + path).status != 0) return "fill " + path;
  return {};
}

// The seconds of every "Synced ... in X seconds." debug line of a run.
double syncSeconds(const std::string& err) {
  double total = 0;
  for (std::size_t at = err.find("Synced "); at != std::string::npos; at = err.find("Synced ", at + 1)) {
    const std::size_t in = err.find(" in ", at);
    if (in != std::string::npos) total += std::atof(err.c_str() + in + 4);
  }
  return total;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (!SandboxHost::unavailableReason().empty()) {
    std::fprintf(stderr, "sandbox host unavailable: %s\n", SandboxHost::unavailableReason().c_str());
    return 1;
  }
  const int queues = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int pairs = argc > 2 ? std::atoi(argv[2]) : 3;
  const std::vector<std::string> ppds = oldProductPPDs();
  char diskDir[] = "/var/tmp/vela-sync-bench-XXXXXX";
  if (ppds.empty() || mkdtemp(diskDir) == nullptr) {
    std::fprintf(stderr, "no previous-generation PPDs in %s, or no directory in /var/tmp\n", VELA_OLD_PPD_DIR);
    return 1;
  }
  std::vector<double> with, without, inSyncs;
  {
    SandboxHost host;
    host.installProduct();
    host.copyIn(NO_DIR_SYNC_LIBRARY, "/root/no_dir_sync.so");
    for (const std::string path : {"/etc/cups", "/opt"}) {
      if (const std::string failed = putOnDisk(host, diskDir, path); !failed.empty()) {
        std::fprintf(stderr, "could not put %s on the disk: %s\n", path.c_str(), failed.c_str());
        return 1;
      }
    }
    std::printf("/etc/cups and /opt in the view on: %s", host.shell("stat -f -c %T /etc/cups/ppd /opt/tam | sort -u").out.c_str());
    host.remove("/etc/cups/ppd");
    for (int i = 0; i < queues; ++i) {
      char name[64];
      std::snprintf(name, sizeof name, "/root/old-ppd/queue%04d.ppd", i);
      host.writeFile(name, ppds[static_cast<std::size_t>(i) % ppds.size()]);
    }
    for (int round = 0; round < 2 * pairs; ++round) {
      const bool syncing = round % 2 == 0;
      host.shell("rm -rf /etc/cups/ppd /etc/cups/*.rpmsave && cp -a /root/old-ppd /etc/cups/ppd && sync");
      RunOptions options;
      options.env = {"KORLPMODE=CUPS"};
      if (!syncing) options.env.push_back("LD_PRELOAD=/root/no_dir_sync.so");
      const auto start = std::chrono::steady_clock::now();
      const RunResult result = host.run({"/opt/tam/bin/setup", "-D", "1"}, options);
      const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      const bool complete = host.log().find("List of Marlo Printers installed: " + std::to_string(queues) + ".") !=
                            std::string::npos;
      std::printf("%d queues, %s: %.2f s", queues, syncing ? "with the syncs   " : "without the syncs", seconds);
      if (syncing) std::printf(", of which in the syncs %.3f s", syncSeconds(result.err));
      std::printf("%s\n", complete ? "" : "  (the run did not list every queue: see its log)");
      std::fflush(stdout);
      (syncing ? with : without).push_back(seconds);
      if (syncing) inSyncs.push_back(syncSeconds(result.err));
    }
  }
  std::system((std::string("rm -rf ") + diskDir).c_str());
  const double a = median(with), b = median(without);
  std::printf("median of %d: with the syncs %.2f s (%.3f s of it in the syncs), without %.2f s: %+.2f s (%+.1f %%)\n",
              pairs, a, median(inSyncs), b, a - b, (a - b) / b * 100);
  return 0;
}
