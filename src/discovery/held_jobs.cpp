// The holds and releases of the CUPS restart and their record. A hold that
// reaches a job the scheduler has just started stops it mid-print, so each
// job is held through libcups right after its state was asked on the same
// connection, the latest jobs first: a printer that finishes meanwhile
// starts the earliest waiting job, which is then found printing and left
// alone. A command per job would widen that gap many times over. Releases
// are lp commands; job ids are numbers the scheduler gave, so a command
// line never carries a name. The record keeps the ids until every one is
// released.
#include "discovery/held_jobs.h"

#include <cups/cups.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "discovery/command_locator.h"
#include "discovery/cups_queues.h"
#include "driver/atomic_file.h"
#include "driver/regular_file.h"
#include "driver/settings.h"
#include "driver/shell.h"
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
bool waiting(http_t* http, int job) {
  ipp_t* response = cupsDoRequest(http, jobRequest(IPP_OP_GET_JOB_ATTRIBUTES, job), "/");
  ipp_attribute_t* state = ippFindAttribute(response, "job-state", IPP_TAG_ENUM);
  const bool pending = state != nullptr && ippGetInteger(state, 0) == IPP_JSTATE_PENDING;
  ippDelete(response);
  return pending;
}

// Holds job when it is still waiting for its printer; true when held.
bool holdIfWaiting(http_t* http, int job) {
  if (!waiting(http, job)) {
    logLine(strFormat("Not holding job %d: it is no longer waiting.", job));
    return false;
  }
  ippDelete(cupsDoRequest(http, jobRequest(IPP_OP_HOLD_JOB, job), "/jobs/"));
  const bool held = cupsLastError() <= IPP_STATUS_OK_CONFLICTING;
  logLine(held ? strFormat("Holding job %d: result=0", job)
               : strFormat("Holding job %d: result=%d (%s)", job, cupsLastError(), cupsLastErrorString()));
  return held;
}

// Runs "lp -i job -H resume" and logs it.
void releaseJob(int job) {
  const std::string lp = locateCupsCommand("lp").value_or("lp");
  const int status = runHostCommand(strFormat("%s -i %d -H resume", shellWord(lp).c_str(), job));
  logLine(strFormat("Releasing job %d: result=%d", job, status));
}

bool writeRecord(const std::vector<int>& jobs) {
  AtomicFile record(kHeldJobsRecord);
  record.write("# Print jobs that setup holds until CUPS has restarted.\n");
  for (const int job : jobs) record.write(std::to_string(job) + "\n");
  if (record.ok() && record.commit(0600)) return true;
  logLine(strFormat("Cannot record the held jobs in %s: %s", kHeldJobsRecord, record.error().c_str()));
  return false;
}

// The job ids in the record.
std::vector<int> readRecord() {
  std::vector<int> jobs;
  std::FILE* record = openRegularFile(kHeldJobsRecord);
  if (record == nullptr) return jobs;
  char line[256];
  while (std::fgets(line, sizeof line, record) != nullptr) {
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

void releaseEach(const std::vector<int>& jobs) {
  for (const int job : jobs) releaseJob(job);
}

}  // namespace

void holdJobs(const std::vector<int>& jobs, std::vector<int>& held) {
  if (jobs.empty()) return;
  std::vector<int> recorded = held;
  recorded.insert(recorded.end(), jobs.begin(), jobs.end());
  if (!writeRecord(recorded)) return;
  if (http_t* http = connectScheduler()) {
    std::vector<int> latestFirst = jobs;
    std::sort(latestFirst.rbegin(), latestFirst.rend());
    for (const int job : latestFirst) {
      if (holdIfWaiting(http, job)) held.push_back(job);
    }
    httpClose(http);
  }
  // Only what is held is released.
  if (held.empty()) {
    removeRecord();
  } else if (held.size() != recorded.size()) {
    writeRecord(held);
  }
}

void releaseHeldJobs(const std::vector<int>& held) {
  if (held.empty()) return;  // nothing held, no record written
  releaseEach(held);
  removeRecord();
}

void releaseJobsHeldByEarlierRun() {
  if (settings().userId != 0 || settings().preview != 0 || access(kHeldJobsRecord, F_OK) != 0) return;
  const std::vector<int> jobs = readRecord();
  logLine(strFormat("Jobs held by an earlier run that did not finish: %zu.", jobs.size()));
  releaseEach(jobs);
  removeRecord();
}
