// Holding the jobs that wait for their printer while CUPS is restarted, so
// that none starts just before the restart and is printed again after it,
// and releasing exactly those jobs afterwards. The held job ids are written
// to a record of the installer's own before each hold: a run killed while
// holding cannot release, so the next run releases what the record names,
// once the run that wrote it (its owner, named in the record) is gone.
#pragma once

#include <vector>

#include "discovery/scheduler_exchange.h"

// One job id a line, after a comment line and the owner's line.
inline constexpr const char* kHeldJobsRecord = "/var/lib/Vela4.0_HeldJobs";

// Records held and jobs together, then holds each of jobs that is still
// waiting and adds it to held; the record then names held only. Holds
// nothing when the record cannot be written, since a hold that nothing
// records could outlive a killed run. The holds end at deadline.
void holdJobs(const std::vector<int>& jobs, std::vector<int>& held, SchedulerClock::time_point deadline);

// Releases each held job, and those of an earlier run that this run could
// not release at its start, then removes the record, or keeps in it the
// jobs whose release could not reach the scheduler.
void releaseHeldJobs(const std::vector<int>& held);

// A run as root that changes the host releases the jobs that the record of
// an earlier, killed run names, and logs it; nothing happens without one,
// and the jobs of a record whose owner still runs are left to that owner.
void releaseJobsHeldByEarlierRun();
