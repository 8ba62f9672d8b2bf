// Restarting the CUPS scheduler with whatever service manager the host has,
// at a moment when no job is printing, once per run, and only after a change
// the scheduler must read.
#pragma once

#include <string>

// How long the restart waits at most for the printing jobs to finish, in
// seconds; the environment variable VELARESTARTWAIT (0 to 600) sets another.
inline constexpr unsigned kRestartWaitSeconds = 60;

// What the restart of this run did, for the run's summary and report.
struct CupsRestartAccount {
  bool restarted = false;     // the restart commands were run
  int status = -1;            // what the last of them returned
  double waitedSeconds = 0;   // waited for printing jobs before it
  int printingAtStart = 0;    // jobs printing when the wait began
  int stillPrinting = 0;      // jobs printing when it ended
  bool gaveUp = false;        // the wait reached its bound
  std::string leftAloneBecause;  // why the run did not restart CUPS, when it chose not to
};

const CupsRestartAccount& cupsRestartAccount();

// A run that changed nothing the scheduler reads (see RunAccount) leaves it
// alone: no job is held and no command run; the log says why. Otherwise it
// holds the jobs that wait for their printer, waits until no job is printing
// (at most the bound), restarts CUPS and releases the held jobs. Printers
// are left as they are, so a stopped one stays stopped. A SIGINT, SIGTERM
// or SIGHUP during the wait ends it without a restart: the held jobs are
// released and the run ends by that signal. A preview only reports whether a restart would come and how
// many jobs are printing. Returns the status of the last restart attempt,
// 0 when a restart succeeded.
int restartCups();

// Leaves CUPS running as it is for the rest of the run, and logs why.
void leaveCupsAlone(const std::string& why);

// Whether this run has restarted CUPS already, or left it alone (in a
// preview: reported which).
bool cupsRestartDone();
