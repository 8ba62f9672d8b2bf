// Asking the local scheduler for its HTTP headers through libcups, for hosts
// that have no netcat program to ask with (RHEL installs none by default).
#pragma once

#include <string>

// Sends "HEAD / HTTP/1.1" with "Connection: Close" to port 631 of the local
// host, once, given up after seconds, and writes the answer's "Server:"
// header line to outputFile as netcat would have written the answer.
// Returns 0 when it did, -1 otherwise; gaveUp is set when the time ran out.
int askSchedulerHead(const std::string& outputFile, unsigned seconds, bool& gaveUp);
