// A conversation with the CUPS scheduler that ends by its deadline whatever
// answers on the scheduler's port. libcups' own request calls post again
// after a bad answer, a failed post or a demand for authentication, without
// end, and its timeouts bound single reads only; here each request is posted
// once (once more after one authentication), any answer that is not a valid
// IPP response ends it, and at the deadline the connection is cut under
// libcups' feet, so that neither a silent peer nor one that streams without
// end holds the run.
#pragma once

#include <cups/cups.h>

#include <chrono>
#include <string>

using SchedulerClock = std::chrono::steady_clock;

// How long one request to the scheduler may take.
inline constexpr std::chrono::seconds kSchedulerRequestTime{5};

// The end of a request begun now: kSchedulerRequestTime later, but not after
// bound, and never less than a second, so that even a wait of 0 seconds asks.
SchedulerClock::time_point requestDeadline(SchedulerClock::time_point bound = SchedulerClock::time_point::max());

class SchedulerExchange {
 public:
  // Connects to the default server (CUPS_SERVER, client.conf or the local
  // socket), giving up at deadline, which then bounds every request on it.
  explicit SchedulerExchange(SchedulerClock::time_point deadline);
  // Connects to server at port without encryption, as a plain HTTP client.
  SchedulerExchange(SchedulerClock::time_point deadline, const char* server, int port);
  ~SchedulerExchange();
  SchedulerExchange(const SchedulerExchange&) = delete;
  SchedulerExchange& operator=(const SchedulerExchange&) = delete;

  bool connected() const { return http_ != nullptr; }
  // Sends request (consumed) to resource: the scheduler's response, to be
  // freed with ippDelete, or null with why() telling what happened.
  ipp_t* send(ipp_t* request, const char* resource);
  // The "Server:" field of the answer to "HEAD /", sent with "Connection:
  // Close"; empty when no valid answer came or it named no server.
  std::string serverField();
  // What went wrong last, in a few words for the log.
  const std::string& why() const { return why_; }
  // Whether the deadline has cut the connection.
  bool cutOff() const;

 private:
  ipp_t* postOnce(ipp_t* request, const char* resource, http_status_t& status);
  void connect(const char* server, int port, http_encryption_t encryption);
  bool reconnect();
  ipp_t* fail(const std::string& why);

  http_t* http_ = nullptr;
  SchedulerClock::time_point deadline_;
  double budgetSeconds_;  // from the connection to the deadline
  std::string why_;
};
