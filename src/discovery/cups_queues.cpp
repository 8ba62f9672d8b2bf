// Reading the scheduler's jobs through libcups, each time on a fresh
// connection, so that a scheduler restarted in between is found again, and
// one that does not connect or answer within a few seconds counts as none.
#include "discovery/cups_queues.h"

#include <cups/cups.h>
#include <sys/socket.h>

#include <algorithm>

namespace {

constexpr int kTimeoutMs = 5000;

}  // namespace

http_t* connectScheduler() {
  http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, kTimeoutMs, nullptr);
  if (http != nullptr) httpSetTimeout(http, kTimeoutMs / 1000.0, nullptr, nullptr);
  return http;
}

std::optional<ActiveJobs> activeJobs() {
  http_t* http = connectScheduler();
  if (http == nullptr) return std::nullopt;
  cups_job_t* jobs = nullptr;
  const int count = cupsGetJobs2(http, &jobs, nullptr, 0, CUPS_WHICHJOBS_ACTIVE);
  httpClose(http);
  if (count < 0) return std::nullopt;
  ActiveJobs active;
  for (int i = 0; i < count; ++i) {
    if (jobs[i].state == IPP_JSTATE_PROCESSING) ++active.printing;
    if (jobs[i].state == IPP_JSTATE_PENDING) active.pending.push_back(jobs[i].id);
  }
  cupsFreeJobs(count, jobs);
  std::sort(active.pending.begin(), active.pending.end());
  return active;
}

int jobsPrintingNow() {
  const std::optional<ActiveJobs> active = activeJobs();
  return active ? active->printing : -1;
}
