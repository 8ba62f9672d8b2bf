// What the running CUPS scheduler says about its jobs, asked through libcups
// at its default server (CUPS_SERVER, client.conf or the local socket).
// Nothing here changes the scheduler, so a preview may ask.
#pragma once

#include <cups/http.h>

#include <optional>
#include <vector>

// A connection to the default server whose requests give up after 5
// seconds without an answer, or null when none connects in that time.
http_t* connectScheduler();

// The scheduler's jobs that have not ended.
struct ActiveJobs {
  int printing = 0;          // being printed now
  std::vector<int> pending;  // waiting for their printer, ids ascending
};

// The active jobs of every queue and user, or nothing when no scheduler answers.
std::optional<ActiveJobs> activeJobs();

// Jobs that are being printed now on any queue, or -1 when no scheduler answers.
int jobsPrintingNow();
