// The HEAD request of the CUPS version probe, sent through libcups as one
// bounded exchange with the scheduler (scheduler_exchange.h), so that a peer
// on port 631 that never answers, or trickles an endless answer, cannot hold
// the run.
#include "discovery/scheduler_head.h"

#include <chrono>
#include <cstdio>

#include "discovery/scheduler_exchange.h"

int askSchedulerHead(const std::string& outputFile, unsigned seconds, bool& gaveUp) {
  SchedulerExchange scheduler(SchedulerClock::now() + std::chrono::seconds(seconds), "localhost", 631);
  const std::string server = scheduler.serverField();
  gaveUp = scheduler.cutOff();
  if (server.empty()) return -1;
  std::FILE* out = std::fopen(outputFile.c_str(), "w");
  if (out == nullptr) return -1;
  const bool written = std::fprintf(out, "Server: %s\n", server.c_str()) > 0;
  return std::fclose(out) == 0 && written ? 0 : -1;
}
