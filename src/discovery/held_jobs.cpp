// The hold and release commands of the CUPS restart and their record. Job
// ids are numbers the scheduler gave, so a command line never carries a
// name; the record keeps them until every one is released.
#include "discovery/held_jobs.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "discovery/command_locator.h"
#include "driver/atomic_file.h"
#include "driver/regular_file.h"
#include "driver/settings.h"
#include "driver/shell.h"
#include "driver/text.h"
#include "driver/update_log.h"

namespace {

// Runs "lp -i job -H how" and logs it as "<verb> job <job>: result=%d".
int changeJob(int job, const char* how, const char* verb) {
  const std::string lp = locateCupsCommand("lp").value_or("lp");
  const int status = runHostCommand(strFormat("%s -i %d -H %s", shellWord(lp).c_str(), job, how));
  logLine(strFormat("%s job %d: result=%d", verb, job, status));
  return status;
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
  for (const int job : jobs) changeJob(job, "resume", "Releasing");
}

}  // namespace

void holdJobs(const std::vector<int>& jobs, std::vector<int>& held) {
  if (jobs.empty()) return;
  std::vector<int> recorded = held;
  recorded.insert(recorded.end(), jobs.begin(), jobs.end());
  if (!writeRecord(recorded)) return;
  for (const int job : jobs) {
    changeJob(job, "hold", "Holding");
    held.push_back(job);
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
