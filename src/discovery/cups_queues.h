// What the running CUPS scheduler says about its jobs, asked at its default
// server (CUPS_SERVER, client.conf or the local socket), each question on a
// connection of its own and bounded by a deadline. Nothing here changes the
// scheduler, so a preview may ask.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "discovery/scheduler_exchange.h"

// The scheduler's jobs that have not ended.
struct ActiveJobs {
  int printing = 0;          // being printed now
  std::vector<int> pending;  // waiting for their printer, ids ascending
};

// The active jobs of every queue and user, or nothing when no scheduler
// answers with a valid IPP response by deadline; then why says what came.
std::optional<ActiveJobs> activeJobs(SchedulerClock::time_point deadline, std::string& why);
