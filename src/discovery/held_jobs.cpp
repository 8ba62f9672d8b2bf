// The holds and releases of the CUPS restart and their record. A hold that
// reaches a job the scheduler has just started stops it mid-print, so each
// job is held right after its state was asked on the same connection, the
// latest jobs first: a printer that finishes meanwhile starts the earliest
// waiting job, which is then found printing and left alone. A connection of
// its own per job would widen that gap many times over. Holds and releases
// are bounded requests (scheduler_exchange.h); the record keeps the ids
// until the scheduler has taken every release.
#include "discovery/held_jobs.h"

#include <cups/cups.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "discovery/scheduler_exchange.h"
#include "driver/atomic_file.h"
#include "driver/durable_changes.h"
#include "driver/regular_file.h"
#include "driver/settings.h"
#include "driver/text.h"
#include "driver/update_log.h"

namespace {

// A request about one job, with the job's URI and the requesting user.
ipp_t* jobRequest(ipp_op_t operation, int job) {
  ipp_t* request = ippNewRequest(operation);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr,
               strFormat("ipp://localhost/jobs/%d", job).c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  return request;
}

// Whether job is still waiting for its printer (not printing, held or ended).
bool waiting(SchedulerExchange& scheduler, int job) {
  ipp_t* response = scheduler.send(jobRequest(IPP_OP_GET_JOB_ATTRIBUTES, job), "/");
  ipp_attribute_t* state = ippFindAttribute(response, "job-state", IPP_TAG_ENUM);
  const bool pending = state != nullptr && ippGetInteger(state, 0) == IPP_JSTATE_PENDING;
  ippDelete(response);
  return pending;
}

// The IPP status of a request about one job, -1 when the scheduler gave no
// valid answer; what the status or the failure means in message.
int jobRequestStatus(SchedulerExchange& scheduler, ipp_op_t operation, int job, std::string& message) {
  ipp_t* response = scheduler.send(jobRequest(operation, job), "/jobs/");
  if (response == nullptr) {
    message = scheduler.why();
    return -1;
  }
  const ipp_status_t status = ippGetStatusCode(response);
  ipp_attribute_t* text = ippFindAttribute(response, "status-message", IPP_TAG_TEXT);
  message = text != nullptr && ippGetString(text, 0, nullptr) != nullptr ? ippGetString(text, 0, nullptr)
                                                                         : ippErrorString(status);
  ippDelete(response);
  return status <= IPP_STATUS_OK_CONFLICTING ? 0 : static_cast<int>(status);
}

// Holds job when it is still waiting for its printer; true when held, or
// when the hold was sent and its answer did not come: that job is released
// with the others, which does no harm to a job that is not held.
bool holdIfWaiting(SchedulerExchange& scheduler, int job) {
  if (!waiting(scheduler, job)) {
    logLine(strFormat("Not holding job %d: it is no longer waiting.", job));
    return false;
  }
  std::string message;
  const int status = jobRequestStatus(scheduler, IPP_OP_HOLD_JOB, job, message);
  logLine(status == 0 ? strFormat("Holding job %d: result=0", job)
                      : strFormat("Holding job %d: result=%d (%s)", job, status, message.c_str()));
  return status <= 0;
}

// Releases job; false when the scheduler could not be asked, so that the
// record keeps it. A job the scheduler refuses to release (ended, cancelled
// meanwhile) has nothing left to release.
bool releaseJob(SchedulerExchange& scheduler, int job) {
  std::string message;
  const int status = jobRequestStatus(scheduler, IPP_OP_RELEASE_JOB, job, message);
  logLine(status == 0 ? strFormat("Releasing job %d: result=0", job)
                      : strFormat("Releasing job %d: result=%d (%s)", job, status, message.c_str()));
  return status >= 0;
}

// The start time of process pid in clock ticks after boot (the 22nd field
// of its stat file), 0 when there is no such process. With the pid it names
// one process: a pid used again later has another start time.
unsigned long long processStartTime(long pid) {
  std::FILE* stat = std::fopen(strFormat("/proc/%ld/stat", pid).c_str(), "re");
  if (stat == nullptr) return 0;
  char text[1024];
  const std::size_t length = std::fread(text, 1, sizeof text - 1, stat);
  std::fclose(stat);
  text[length] = '\0';
  // The command name in parentheses may hold blanks and parentheses itself.
  const char* field = std::strrchr(text, ')');
  if (field == nullptr) return 0;
  for (int number = 2; number < 22 && field != nullptr; ++number) field = std::strchr(field + 1, ' ');
  return field == nullptr ? 0 : std::strtoull(field + 1, nullptr, 10);
}

// The run that wrote the record. A record without this line comes from a
// run of an earlier version, which is not running any more.
struct RecordOwner {
  long pid = 0;
  unsigned long long startTime = 0;
  bool running() const { return pid > 0 && startTime != 0 && processStartTime(pid) == startTime; }
};

constexpr const char* kOwnerLine = "# Owner: process %ld, started %llu clock ticks after boot\n";

bool writeRecord(const std::vector<int>& jobs) {
  AtomicFile record(kHeldJobsRecord);
  record.write("# Print jobs that setup holds until CUPS has restarted.\n");
  const long self = getpid();
  record.write(strFormat(kOwnerLine, self, processStartTime(self)));
  for (const int job : jobs) record.write(std::to_string(job) + "\n");
  if (record.ok() && record.commit(0600)) {
    syncPlacedChanges();  // a hold outlives a power cut, so its record must too
    return true;
  }
  logLine(strFormat("Cannot record the held jobs in %s: %s", kHeldJobsRecord, record.error().c_str()));
  return false;
}

// The job ids in the record, and the run that wrote it.
std::vector<int> readRecord(RecordOwner& owner) {
  std::vector<int> jobs;
  std::FILE* record = openRegularFile(kHeldJobsRecord);
  if (record == nullptr) return jobs;
  char line[256];
  while (std::fgets(line, sizeof line, record) != nullptr) {
    if (std::sscanf(line, kOwnerLine, &owner.pid, &owner.startTime) == 2) continue;
    const int job = std::atoi(line);
    if (job > 0) jobs.push_back(job);
  }
  std::fclose(record);
  return jobs;
}

void removeRecord() {
  if (unlink(kHeldJobsRecord) != 0 && errno != ENOENT) {
    logLine(strFormat("Cannot remove %s: %s", kHeldJobsRecord, std::strerror(errno)));
  }
}

// Jobs of an earlier run that this run could not release at its start: every
// record this run writes keeps them, and its own release tries them again.
std::vector<int> inherited;

std::vector<int> withInherited(const std::vector<int>& jobs) {
  std::vector<int> all = inherited;
  all.insert(all.end(), jobs.begin(), jobs.end());
  return all;
}

// Releases each of jobs on one connection, within one request's time; the
// record then names only those the scheduler could not be asked about
// (returned), or is gone.
std::vector<int> releaseEach(const std::vector<int>& jobs) {
  SchedulerExchange scheduler(requestDeadline());
  std::vector<int> unreached;
  for (const int job : jobs) {
    if (!releaseJob(scheduler, job)) unreached.push_back(job);
  }
  if (unreached.empty()) {
    removeRecord();
  } else {
    writeRecord(unreached);
    logLine(strFormat("Jobs left held until a later run can release them: %zu (%s).", unreached.size(),
                      kHeldJobsRecord));
  }
  return unreached;
}

}  // namespace

void holdJobs(const std::vector<int>& jobs, std::vector<int>& held, SchedulerClock::time_point deadline) {
  if (jobs.empty()) return;
  std::vector<int> recorded = withInherited(held);
  recorded.insert(recorded.end(), jobs.begin(), jobs.end());
  if (!writeRecord(recorded)) return;
  SchedulerExchange scheduler(deadline);
  if (scheduler.connected()) {
    std::vector<int> latestFirst = jobs;
    std::sort(latestFirst.rbegin(), latestFirst.rend());
    for (const int job : latestFirst) {
      if (holdIfWaiting(scheduler, job)) held.push_back(job);
    }
  }
  // Only what is held is released.
  if (held.empty() && inherited.empty()) {
    removeRecord();
  } else if (held.size() + inherited.size() != recorded.size()) {
    writeRecord(withInherited(held));
  }
}

void releaseHeldJobs(const std::vector<int>& held) {
  if (held.empty() && inherited.empty()) return;  // nothing held, no record written
  inherited = releaseEach(withInherited(held));
}

void releaseJobsHeldByEarlierRun() {
  if (settings().userId != 0 || settings().preview != 0 || access(kHeldJobsRecord, F_OK) != 0) return;
  RecordOwner owner;
  const std::vector<int> jobs = readRecord(owner);
  // The run that holds them releases them itself once CUPS has restarted.
  if (owner.running()) {
    logLine(strFormat("Jobs held by setup process %ld, which is still running: %zu, left to it.", owner.pid,
                      jobs.size()));
    return;
  }
  logLine(strFormat("Jobs held by an earlier run that did not finish: %zu.", jobs.size()));
  if (jobs.empty()) removeRecord();
  else inherited = releaseEach(jobs);
}
