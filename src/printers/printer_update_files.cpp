// The file work of the printer update besides the PPD merge: a checked copy
// of a whole file, and the version line of a queue's product configuration,
// which is replaced only by a complete new file.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "driver/atomic_file.h"
#include "driver/host_changes.h"
#include "driver/regular_file.h"
#include "driver/text.h"
#include "driver/update_log.h"
#include "printers/printer_update.h"

namespace {

// Closes file, keeping the first error's errno; false when it failed.
bool closeKeepingErrno(std::FILE* file, bool ok) {
  const int saved = errno;
  const bool closed = std::fclose(file) == 0;
  if (!ok) errno = saved;
  return ok && closed;
}

// A queue name that stands for a directory of its own under /opt/tam.
bool isPlainQueueName(const std::string& queue) { return !queue.empty() && queue != "." && queue != ".."; }

}  // namespace

// Copies source (as this run has left it) to target in blocks of 40960 bytes.
bool copyFile(const std::string& source, const std::string& target) {
  std::FILE* in = openRegularFile(host().readablePath(source));
  if (in == nullptr) return false;
  std::FILE* out = std::fopen(target.c_str(), "wb");
  if (out == nullptr) return closeKeepingErrno(in, false);
  std::vector<char> block(40960);
  bool ok = true;
  std::size_t n;
  while (ok && (n = std::fread(block.data(), 1, block.size(), in)) > 0) ok = std::fwrite(block.data(), 1, n, out) == n;
  if (ok && std::ferror(in)) ok = false;
  ok = closeKeepingErrno(in, ok);
  return closeKeepingErrno(out, ok);
}

// Rewrites the queue's velaConfig with its version line moved on to 3.0.
int processPrinterConfig(const std::string& queueName) {
  const std::string path = "/opt/tam/" + queueName + "/root/velaConfig";
  if (!isPlainQueueName(queueName) || access(path.c_str(), F_OK) != 0) return 0;
  std::FILE* in = openRegularFile(path);
  if (in == nullptr) return 0;
  AtomicFile out(path);
  std::string line;
  while (out.ok() && readLine255(in, line)) {
    out.write(contains(line, "%%VELA_VERSION_1.0") ? std::string("%%VELA_VERSION_3.0\n") : line);
  }
  const bool readFailed = std::ferror(in) != 0;
  std::fclose(in);
  struct stat old {};
  const bool known = stat(path.c_str(), &old) == 0;
  const int mode = known ? static_cast<int>(old.st_mode & 07777) : 0644;
  if (readFailed || !out.commit(mode, known ? static_cast<int>(old.st_uid) : -1, static_cast<int>(old.st_gid))) {
    logLine(strFormat("processPrinterConfig(%s): %s kept as it was: %s.", queueName.c_str(), path.c_str(),
                      readFailed ? "read error" : out.error().c_str()));
    return 0;
  }
  logLine(strFormat("processPrinterConfig(%s): updated.", queueName.c_str()));
  return 1;
}
