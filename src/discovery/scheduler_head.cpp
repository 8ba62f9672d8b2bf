// The HEAD request of the CUPS version probe, sent through libcups. Every
// step is bounded: the connection and each wait for an answer by libcups's
// timeouts, which end the exchange instead of retrying, and the whole
// exchange by the child process it runs in, so that a peer on port 631 that
// trickles an endless answer cannot hold the run.
#include "discovery/scheduler_head.h"

#include <cups/cups.h>
#include <cups/http.h>
#include <sys/socket.h>

#include <cstdio>

#include "driver/shell.h"

namespace {

constexpr int kConnectMs = 3000;
constexpr double kWaitSeconds = 3.0;

// Called by libcups when a wait for the scheduler times out: give up.
int stopWaiting(http_t*, void*) { return 0; }

// The exchange itself, in the child: 0 when the answer named its server.
int headExchange(const std::string& outputFile) {
  http_t* http = httpConnect2("localhost", 631, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, kConnectMs, nullptr);
  if (http == nullptr) return 1;
  httpSetTimeout(http, kWaitSeconds, stopWaiting, nullptr);
  httpClearFields(http);
  httpSetField(http, HTTP_FIELD_CONNECTION, "Close");
  http_status_t status = HTTP_STATUS_ERROR;
  if (httpHead(http, "/") == 0) {
    while ((status = httpUpdate(http)) == HTTP_STATUS_CONTINUE) {
    }
  }
  const char* server = status == HTTP_STATUS_ERROR ? nullptr : httpGetField(http, HTTP_FIELD_SERVER);
  int result = 1;
  if (server != nullptr && *server != '\0') {
    if (std::FILE* out = std::fopen(outputFile.c_str(), "w")) {
      const bool written = std::fprintf(out, "Server: %s\n", server) > 0;
      result = std::fclose(out) == 0 && written ? 0 : 1;
    }
  }
  httpClose(http);
  return result;
}

}  // namespace

int askSchedulerHead(const std::string& outputFile, unsigned seconds, bool& gaveUp) {
  return runBounded([&outputFile] { return headExchange(outputFile); }, seconds, gaveUp);
}
