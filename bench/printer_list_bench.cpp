// How the printer listing and update scale with the number of queues: for
// 50, 200 and 500 queue PPDs (the product's previous generation, models
// taken in turn) against the product's 312 compressed PPDs, runs the real
// setup in a sandbox host and reports its run time and how many candidate
// PPDs it opened. Both must grow linearly with the queues.
//
//   printer_list_bench [--term=NAME] [queue counts...]
//
// With --term setup runs on a terminal (script's) of that TERM: xterm draws
// the status line, dumb does not, on the same terminal.
#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/old_product_ppds.h"
#include "sandbox/sandbox_host.h"

namespace {

// The figure that setup prints at debug level 1, or -1.
long candidateOpens(const std::string& err) {
  const std::string marker = "Candidate PPD opens: ";
  const std::size_t at = err.rfind(marker);
  return at == std::string::npos ? -1 : std::atol(err.c_str() + at + marker.size());
}

void runOnce(int queues, const std::vector<std::string>& ppds, const std::string& term) {
  SandboxHost host;
  host.installProduct();
  host.remove("/etc/cups/ppd");
  for (int i = 0; i < queues; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "/etc/cups/ppd/queue%03d.ppd", i);
    host.writeFile(name, ppds[static_cast<std::size_t>(i) % ppds.size()]);
  }
  const auto start = std::chrono::steady_clock::now();
  RunOptions options;
  options.env = {"KORLPMODE=CUPS"};
  if (!term.empty()) options.env.push_back("TERM=" + term);
  const RunResult result = !term.empty() ? host.shell("script -qfec '/opt/tam/bin/setup -D 1' /dev/null", options)
                                         : host.run({"/opt/tam/bin/setup", "-D", "1"}, options);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;

  const std::string log = host.log();
  const std::string listed = "List of Marlo Printers installed: " + std::to_string(queues) + ".";
  const bool complete = log.find(listed) != std::string::npos;
  std::printf("%5d queues: %7.2f s, %8.2f ms per queue, %6ld candidate opens%s\n", queues, took.count(),
              took.count() * 1000 / queues, candidateOpens(result.err + result.out),
              complete ? "" : "  (the run did not list every queue: see its log)");
}

}  // namespace

int main(int argc, char** argv) {
  if (!SandboxHost::unavailableReason().empty()) {
    std::fprintf(stderr, "sandbox host unavailable: %s\n", SandboxHost::unavailableReason().c_str());
    return 1;
  }
  const std::vector<std::string> ppds = oldProductPPDs();
  if (ppds.empty()) {
    std::fprintf(stderr, "no previous-generation PPDs in %s\n", VELA_OLD_PPD_DIR);
    return 1;
  }
  std::vector<int> counts;
  std::string term;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]).rfind("--term=", 0) == 0) {
      term = argv[i] + 7;
    } else {
      counts.push_back(std::atoi(argv[i]));
    }
  }
  if (counts.empty()) counts = {50, 200, 500};
  std::printf("setup against %zu compressed candidate PPDs\n", ppds.size());
  for (int queues : counts) runOnce(queues, ppds, term);
  return 0;
}
