// The bounded conversation with the scheduler. The deadline is an interval
// timer: its SIGALRM puts a socket that reads as closed in the place of the
// connection's descriptor, so whatever libcups is reading or writing then
// ends at once, and libcups closes that socket with the connection. The run
// has one exchange at a time, and only its main thread takes signals.
#include "discovery/scheduler_exchange.h"

#include <signal.h>
#include <sys/socket.h>
#include <strings.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "driver/text.h"

namespace {

volatile sig_atomic_t cutFd = -1;   // the connection the alarm cuts
volatile sig_atomic_t cutDone = 0;  // the alarm came
int deadEnd = -1;                   // a socket whose peer is gone
struct sigaction previousAction;

void cutConnection(int) {
  const int saved = errno;
  if (cutFd >= 0 && deadEnd >= 0) dup2(deadEnd, cutFd);
  cutDone = 1;
  errno = saved;
}

void setTimer(SchedulerClock::duration left) {
  const auto micros = std::max<long long>(1, std::chrono::duration_cast<std::chrono::microseconds>(left).count());
  itimerval timer{};
  timer.it_value.tv_sec = static_cast<time_t>(micros / 1000000);
  timer.it_value.tv_usec = static_cast<suseconds_t>(micros % 1000000);
  setitimer(ITIMER_REAL, &timer, nullptr);
}

// Arms the cut of fd at deadline.
void armCut(int fd, SchedulerClock::time_point deadline) {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) == 0) {
    close(pair[1]);
    deadEnd = pair[0];
  }
  cutDone = 0;
  cutFd = fd;
  struct sigaction action {};
  action.sa_handler = cutConnection;
  // A read or write restarted after the cut meets the dead socket at once,
  // and a log line written meanwhile is not cut short.
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGALRM, &action, &previousAction);
  setTimer(deadline - SchedulerClock::now());
}

void disarmCut() {
  const itimerval off{};
  setitimer(ITIMER_REAL, &off, nullptr);
  sigaction(SIGALRM, &previousAction, nullptr);
  cutFd = -1;
}

// A request that needs a password does without: nobody is asked.
const char* noPassword(const char*, http_t*, const char*, const char*, void*) { return nullptr; }

double secondsLeft(SchedulerClock::time_point deadline) {
  return std::chrono::duration<double>(deadline - SchedulerClock::now()).count();
}

}  // namespace

SchedulerClock::time_point requestDeadline(SchedulerClock::time_point bound) {
  const SchedulerClock::time_point now = SchedulerClock::now();
  const SchedulerClock::time_point deadline = bound - now < kSchedulerRequestTime ? bound : now + kSchedulerRequestTime;
  return std::max(deadline, now + std::chrono::seconds(1));
}

SchedulerExchange::SchedulerExchange(SchedulerClock::time_point deadline)
    : deadline_(deadline), budgetSeconds_(secondsLeft(deadline)) {
  connect(cupsServer(), ippPort(), cupsEncryption());
}

SchedulerExchange::SchedulerExchange(SchedulerClock::time_point deadline, const char* server, int port)
    : deadline_(deadline), budgetSeconds_(secondsLeft(deadline)) {
  connect(server, port, HTTP_ENCRYPTION_NEVER);
}

void SchedulerExchange::connect(const char* server, int port, http_encryption_t encryption) {
  cupsSetPasswordCB2(noPassword, nullptr);
  const int msec = std::max(1, static_cast<int>(secondsLeft(deadline_) * 1000));
  http_ = httpConnect2(server, port, nullptr, AF_UNSPEC, encryption, 1, msec, nullptr);
  if (http_ == nullptr) {
    // libcups keeps no reliable errno here.
    why_ = strFormat("nothing accepts a connection at %s, port %d", server, port);
    return;
  }
  httpSetTimeout(http_, std::max(0.1, secondsLeft(deadline_)), nullptr, nullptr);
  armCut(httpGetFd(http_), deadline_);
}

SchedulerExchange::~SchedulerExchange() {
  if (http_ == nullptr) return;
  disarmCut();
  httpClose(http_);
  if (deadEnd >= 0) close(deadEnd);
  deadEnd = -1;
}

ipp_t* SchedulerExchange::fail(const std::string& why) {
  why_ = cutDone ? strFormat("no answer within %.0f seconds", budgetSeconds_) : why;
  return nullptr;
}

// A new connection in the place of the old one, with the cut moved to it.
bool SchedulerExchange::reconnect() {
  sigset_t alarm, previous;
  sigemptyset(&alarm);
  sigaddset(&alarm, SIGALRM);
  sigprocmask(SIG_BLOCK, &alarm, &previous);
  cutFd = -1;
  const bool ok = !cutDone && httpReconnect2(http_, std::max(1, static_cast<int>(secondsLeft(deadline_) * 1000)),
                                             nullptr) == 0;
  if (ok) cutFd = httpGetFd(http_);
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  return ok && !cutDone;
}

ipp_t* SchedulerExchange::postOnce(ipp_t* request, const char* resource, http_status_t& status) {
  status = HTTP_STATUS_ERROR;
  if (cutDone) return fail("");
  const char* connection = httpGetField(http_, HTTP_FIELD_CONNECTION);
  if (connection != nullptr && strcasecmp(connection, "close") == 0 && !reconnect()) {
    return fail("the connection was closed");
  }
  httpClearFields(http_);
  httpSetField(http_, HTTP_FIELD_CONTENT_TYPE, "application/ipp");
  if (const char* auth = httpGetAuthString(http_)) httpSetField(http_, HTTP_FIELD_AUTHORIZATION, auth);
  httpSetLength(http_, ippLength(request));
  if (httpPost(http_, resource) != 0) return fail(strFormat("cannot send the request: %s", std::strerror(errno)));
  ippSetState(request, IPP_STATE_IDLE);
  ipp_state_t state;
  while ((state = ippWrite(http_, request)) != IPP_STATE_DATA) {
    if (state == IPP_STATE_ERROR || cutDone) return fail("cannot send the request");
  }
  do status = httpUpdate(http_);
  while (status == HTTP_STATUS_CONTINUE && !cutDone);
  if (status != HTTP_STATUS_OK) {
    if (status != HTTP_STATUS_ERROR && !cutDone) httpFlush(http_);
    return fail(status == HTTP_STATUS_ERROR ? std::string("the answer is not an HTTP response")
                                            : strFormat("HTTP status %d instead of an IPP response", status));
  }
  ipp_t* response = ippNew();
  while ((state = ippRead(http_, response)) != IPP_STATE_DATA) {
    if (state == IPP_STATE_ERROR || cutDone) {
      ippDelete(response);
      return fail("the answer is not an IPP response");
    }
  }
  if (httpGetState(http_) != HTTP_STATE_WAITING) httpFlush(http_);
  return response;
}

ipp_t* SchedulerExchange::send(ipp_t* request, const char* resource) {
  ipp_t* response = nullptr;
  if (http_ != nullptr) {
    http_status_t status;
    response = postOnce(request, resource, status);
    // One authentication (root's local certificate) and one more post.
    if (response == nullptr && status == HTTP_STATUS_UNAUTHORIZED &&
        cupsDoAuthentication(http_, "POST", resource) == 0 && reconnect()) {
      response = postOnce(request, resource, status);
    }
  }
  ippDelete(request);
  return response;
}

std::string SchedulerExchange::serverField() {
  if (http_ == nullptr || cutDone) return {};
  httpClearFields(http_);
  httpSetField(http_, HTTP_FIELD_CONNECTION, "Close");
  if (httpHead(http_, "/") != 0) {
    fail(strFormat("cannot send the request: %s", std::strerror(errno)));
    return {};
  }
  http_status_t status;
  do status = httpUpdate(http_);
  while (status == HTTP_STATUS_CONTINUE && !cutDone);
  if (status == HTTP_STATUS_ERROR || cutDone) {
    fail("the answer is not an HTTP response");
    return {};
  }
  const char* server = httpGetField(http_, HTTP_FIELD_SERVER);
  return server != nullptr ? server : "";
}

bool SchedulerExchange::cutOff() const { return cutDone != 0; }
