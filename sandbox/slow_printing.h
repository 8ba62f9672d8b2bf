// Busy queues for the restart tests and the benchmark: a backend of the
// tests' own that takes a while for each job and notes every start and end
// of one, so that a job the scheduler sent to its printer twice is seen.
#pragma once

#include <string>
#include <vector>

#include "sandbox/real_cups.h"

// A job with this title never ends on the slow backend.
inline constexpr const char* kEndlessJobTitle = "endless";

// How the jobs of a run fared.
struct JobTally {
  int submitted = 0;
  int completedOnce = 0;  // started once and finished
  int startedTwice = 0;   // started twice or more
  int lost = 0;           // neither finished nor still queued
  int pending = 0;        // still queued or printing
  JobTally& operator+=(const JobTally& other);
  // "jobs across an upgrade: S submitted, C completed once, ..."
  std::string line() const;
};

// Installs the backend "slow" (seconds a job) and points each queue at it.
// Empty on success, else what failed.
std::string useSlowBackend(SandboxHost& host, const std::vector<std::string>& queues, unsigned seconds);

// Submits count raw jobs to the queues in turn; their job ids.
std::vector<std::string> submitJobs(SandboxHost& host, const std::vector<std::string>& queues, int count,
                                    const std::string& title = "page");

// Polls until at least jobs are being printed; false after seconds.
bool waitUntilPrinting(SandboxHost& host, int jobs, unsigned seconds);

// Waits up to seconds for every queue to empty, then counts the jobs.
JobTally tallyJobs(SandboxHost& host, RealCups& cups, const std::vector<std::string>& jobIds, unsigned seconds);
