// Reading the scheduler's jobs with one Get-Jobs request on a fresh
// connection, so that a scheduler restarted in between is found again, and
// one that does not connect or answer in time counts as none.
#include "discovery/cups_queues.h"

#include <algorithm>
#include <string_view>

namespace {

ipp_t* getJobsRequest() {
  static const char* const attributes[] = {"job-id", "job-state"};
  ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, "ipp://localhost/");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "not-completed");
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr, attributes);
  return request;
}

// Counts each job of the response by the state it is in.
ActiveJobs tally(ipp_t* response) {
  ActiveJobs active;
  int id = 0, state = 0;
  const auto count = [&] {
    if (id > 0 && state == IPP_JSTATE_PROCESSING) ++active.printing;
    if (id > 0 && state == IPP_JSTATE_PENDING) active.pending.push_back(id);
    id = state = 0;
  };
  for (ipp_attribute_t* attr = ippFirstAttribute(response); attr != nullptr; attr = ippNextAttribute(response)) {
    const char* name = ippGetName(attr);
    if (name == nullptr) count();  // the separator between two jobs
    else if (std::string_view(name) == "job-id" && ippGetValueTag(attr) == IPP_TAG_INTEGER) id = ippGetInteger(attr, 0);
    else if (std::string_view(name) == "job-state" && ippGetValueTag(attr) == IPP_TAG_ENUM) state = ippGetInteger(attr, 0);
  }
  count();
  std::sort(active.pending.begin(), active.pending.end());
  return active;
}

}  // namespace

std::optional<ActiveJobs> activeJobs(SchedulerClock::time_point deadline, std::string& why) {
  SchedulerExchange scheduler(deadline);
  ipp_t* response = scheduler.send(getJobsRequest(), "/");
  if (response == nullptr) {
    why = scheduler.why();
    return std::nullopt;
  }
  const ipp_status_t status = ippGetStatusCode(response);
  // No job at all is an answer too.
  if (status > IPP_STATUS_OK_CONFLICTING && status != IPP_STATUS_ERROR_NOT_FOUND) {
    why = std::string("the scheduler refused the question: ") + ippErrorString(status);
    ippDelete(response);
    return std::nullopt;
  }
  ActiveJobs active = tally(response);
  ippDelete(response);
  return active;
}
