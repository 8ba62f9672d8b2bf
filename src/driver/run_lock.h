// One run at a time on a host: every run that changes the host holds an
// exclusive lock of the installer's own for its whole life. The kernel drops
// the lock when the process ends, however it ends, so a killed run never
// leaves it taken.
#pragma once

#include <string>

// Where the lock lives; the second when the host has no /run.
inline constexpr const char* kRunLockPath = "/run/Vela4.0_RunLock";
inline constexpr const char* kRunLockFallbackPath = "/var/lib/Vela4.0_RunLock";

// How long a run waits at most for another run to let go of the lock, in
// seconds; the environment variable VELALOCKWAIT (0 to 3600) sets another.
inline constexpr unsigned kRunLockWaitSeconds = 300;

// Takes the lock, waiting for the run that holds it and telling standard
// output and standard error once which process that is. When the bound
// passes, says so on both and ends the process with status 0, before this run
// has opened its log or touched anything. A lock file that cannot be opened
// at all is told on standard error and the run goes on without the lock.
void takeRunLock();

// For the log, once it is open: how long this run waited, and for which
// process; empty when it did not wait.
std::string runLockWaitLine();
