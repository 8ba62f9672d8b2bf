// Restarting the CUPS scheduler: the jobs that wait for their printer are
// held and the jobs in print are let finish, then systemd first, then the
// service command or the distribution's init script, each step written to
// the log, and the held jobs are released again. A run that changed nothing
// CUPS reads leaves the scheduler and its jobs alone.
#include "discovery/cups_restart.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "discovery/command_locator.h"
#include "discovery/cups_queues.h"
#include "discovery/held_jobs.h"
#include "driver/durable_changes.h"
#include "driver/interrupt.h"
#include "driver/run_account.h"
#include "driver/run_end.h"
#include "driver/settings.h"
#include "driver/shell.h"
#include "driver/status_line.h"
#include "driver/text.h"
#include "driver/update_log.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kPollInterval = std::chrono::milliseconds(500);
// How long a restarted scheduler gets to answer before the release.
constexpr auto kAnswerAgainTime = std::chrono::seconds(30);

CupsRestartAccount account;
bool done = false;  // this run has restarted, or a preview has told it

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The bound of the wait: VELARESTARTWAIT when it is a number of seconds
// from 0 to 600, else the default.
unsigned waitBound() { return secondsFromEnvironment("VELARESTARTWAIT", 600, kRestartWaitSeconds); }

bool present(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// The located path of a command, when it is really there.
std::optional<std::string> existingCommand(const char* name) {
  std::optional<std::string> path = locateCommand(name);
  if (path && !present(*path)) path.reset();
  return path;
}

// The command of the second method, or empty when the host has none.
std::string fallbackRestartCommand() {
  if (const std::optional<std::string> service = existingCommand("service")) {
    return shellWord(*service) + " cups restart";
  }
  if (present("/etc/init.d/cups")) return "/etc/init.d/cups restart";
  if (present("/etc/init.d/cupsys")) return "/etc/init.d/cupsys restart";
  return "";
}

// systemd first, then the second method; returns the last status.
int runRestartCommands() {
  int status = -1;
  if (const std::optional<std::string> systemctl = existingCommand("systemctl")) {
    const std::string command = shellWord(*systemctl) + " restart cups.service";
    logLine(strFormat("CUPS restart command:\"%s\"\n", command.c_str()));
    status = runHostCommand(command);
  }
  logLine(strFormat("CUPS reset returned with: %d", status));
  if (status == 0) return 0;

  const std::string command = fallbackRestartCommand();
  if (command.empty()) {
    logLine("Cannot reset CUPS. Sorry!");
  } else {
    const StatusLineHidden hidden;  // a script may start a daemon that keeps writing
    status = runHostCommand(command);
  }
  logLine(strFormat("CUPS reset returned with: %d", status));
  return status;
}

// What came instead of the scheduler's jobs.
void logUnanswered(const std::string& why) {
  logLine(strFormat("Asking the CUPS scheduler for its jobs: %s.", why.c_str()));
}

// How the wait ended: all printing done, or the bound reached.
void logWait(unsigned bound) {
  if (account.gaveUp) {
    logLine(strFormat("Waited %u seconds for printing jobs to finish: %d still printing, restarting CUPS anyway.",
                      bound, account.stillPrinting));
  } else {
    logLine(strFormat("Waited %.1f seconds until no job was printing (%d printing at first).", account.waitedSeconds,
                      account.printingAtStart));
  }
}

// Holds the waiting jobs and polls until no job is printing, bound seconds
// have passed or a signal came; jobs that come in meanwhile are held as
// well. Every question and hold ends by the bound (or a second after it
// when the bound is shorter than that), so the wait does too, whatever
// answers. A scheduler that gives no valid answer has nothing printing.
void holdAndWaitUntilNothingPrints(unsigned bound, std::vector<int>& held, const InterruptCatcher& interrupt) {
  const Clock::time_point start = Clock::now();
  const Clock::time_point end = start + std::chrono::seconds(bound);
  std::string why;
  std::optional<ActiveJobs> jobs = activeJobs(requestDeadline(end), why);
  if (!jobs) {
    logUnanswered(why);
    logLine("No CUPS scheduler answers: no printing job to wait for before the restart.");
    return;
  }
  account.printingAtStart = jobs->printing;
  while (true) {
    std::erase_if(jobs->pending, [&](int job) { return std::find(held.begin(), held.end(), job) != held.end(); });
    holdJobs(jobs->pending, held, requestDeadline(end));
    showPrintingWait(jobs->printing, bound);
    if (jobs->printing == 0 || Clock::now() >= end || interrupt.caught() != 0) break;
    std::this_thread::sleep_for(std::min<Clock::duration>(kPollInterval, end - Clock::now()));
    if (std::optional<ActiveJobs> now = activeJobs(requestDeadline(end), why)) {
      jobs = std::move(now);
    } else {
      logLine(strFormat("Asking the CUPS scheduler for its jobs: %s; taking it that nothing prints any more.",
                        why.c_str()));
      jobs->printing = 0;
    }
  }
  account.waitedSeconds = secondsSince(start);
  account.stillPrinting = jobs->printing;
  account.gaveUp = jobs->printing > 0 && interrupt.caught() == 0;
  if (interrupt.caught() == 0) logWait(bound);
}

// A restarted scheduler takes a moment before it answers again; each
// question ends by the bound of this wait.
void waitUntilSchedulerAnswers() {
  const Clock::time_point end = Clock::now() + kAnswerAgainTime;
  showStep("Waiting for the restarted CUPS scheduler to answer");
  std::string why;
  while (!activeJobs(requestDeadline(end), why) && Clock::now() < end) {
    std::this_thread::sleep_for(std::min<Clock::duration>(kPollInterval, end - Clock::now()));
  }
}

// A preview tells how many jobs are printing now, which the restart would wait for.
void reportRestart() {
  std::string why;
  const std::optional<ActiveJobs> jobs = activeJobs(requestDeadline(), why);
  if (!jobs) logUnanswered(why);
  const int printing = jobs ? jobs->printing : -1;
  account.printingAtStart = printing;
  logLine(printing < 0 ? std::string("CUPS would be restarted now; no CUPS scheduler answers.")
                       : strFormat("CUPS would be restarted once no job is printing; jobs printing now: %d.", printing));
}

}  // namespace

const CupsRestartAccount& cupsRestartAccount() { return account; }

bool cupsRestartDone() { return done; }

// A preview logs the same line: its log is the run's log to come.
void leaveCupsAlone(const std::string& why) {
  if (done) return;
  done = true;
  account.leftAloneBecause = why;
  logLine(strFormat("CUPS is not restarted: %s.", why.c_str()));
}

int restartCups() {
  if (runAccount().cupsReadChanges == 0) {
    leaveCupsAlone("this run changed nothing that CUPS reads");
    return 0;
  }
  done = true;
  // A preview holds nothing and waits for nothing; its restart commands are
  // only logged as what would run.
  if (settings().preview != 0) {
    reportRestart();
    account.status = runRestartCommands();
    return account.status;
  }
  // CUPS reads the new PPDs from disk: they are on it before it restarts.
  syncPlacedChanges();
  std::vector<int> held;
  InterruptCatcher interrupt;
  holdAndWaitUntilNothingPrints(waitBound(), held, interrupt);
  if (interrupt.caught() == 0) {
    showStep("Restarting CUPS");
    account.status = runRestartCommands();
    account.restarted = true;
    if (!held.empty()) waitUntilSchedulerAnswers();
  } else {
    logLine(strFormat("Stopped by signal %d while waiting for printing jobs: CUPS is not restarted.",
                      interrupt.caught()));
  }
  releaseHeldJobs(held);
  if (interrupt.caught() != 0)
    leaveReportOfStoppedRun(strFormat("stopped by signal %d while waiting for printing jobs", interrupt.caught()));
  interrupt.endByCaughtSignal();  // only when one came
  return account.status;
}
