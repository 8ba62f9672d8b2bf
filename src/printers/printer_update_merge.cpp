// Making a queue's merged PPD: the product's new PPD for the queue's model is
// copied to a private work file in /tmp (unpacked there when compressed), and
// the queue's old defaults are merged into a second work file. Both work
// files are created exclusively under unpredictable names; the merged file
// is handed on only when every byte of it was written.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "driver/settings.h"
#include "driver/shell.h"
#include "driver/text.h"
#include "driver/update_log.h"
#include "printers/printer_update.h"

namespace {

// Creates /tmp/<prefix>XXXXXX<suffix> exclusively; its descriptor, or -1.
int createWorkFile(const std::string& prefix, const std::string& suffix, std::string& path) {
  path = "/tmp/" + prefix + "XXXXXX" + suffix;
  int fd;
  do {
    fd = mkstemps(path.data(), static_cast<int>(suffix.size()));
  } while (fd < 0 && errno == EINTR);
  return fd;
}

void logProblem(const char* what, const std::string& path, const PrinterEntry& printer) {
  logLine(strFormat("Problem %s: %s for printer %s!\n", what, path.c_str(), printer.queueName.c_str()));
}

// Copies the candidate to a work file and unpacks it there when it is
// compressed. On success input names the plain copy.
bool fetchCandidate(const std::string& found, const PrinterEntry& printer, std::string& input) {
  const bool compressed = contains(found, ".gz");
  const int fd = createWorkFile("korin", compressed ? ".gz" : "", input);
  if (fd < 0) {
    logProblem("opening", input, printer);
    return false;
  }
  close(fd);
  if (!copyFile(found, input)) {
    logLine(strFormat("Problem copying: %s to %s for printer %s: %s!\n", found.c_str(), input.c_str(),
                      printer.queueName.c_str(), std::strerror(errno)));
    unlink(input.c_str());
    return false;
  }
  if (!compressed) return true;
  const std::string gzip = settings().gzip.empty() ? "gzip" : settings().gzip;
  const std::string unpacked = input.substr(0, input.rfind(".gz"));
  // gzip unpacks a damaged file (trailing garbage) and still fails: the
  // unpacked copy goes too, unless the name was someone else's already.
  const bool unpackedWasThere = access(unpacked.c_str(), F_OK) == 0;
  if (runShell(strFormat("%s -d %s", gzip.c_str(), shellWord(input).c_str())) != 0) {
    logProblem("decompressing", input, printer);
    unlink(input.c_str());
    if (!unpackedWasThere) unlink(unpacked.c_str());
    return false;
  }
  input = unpacked;
  return true;
}

// Merges the options into a new work file; output names it on success.
bool mergeCandidate(const std::string& input, const OptionList& options, int count, const PrinterEntry& printer,
                    std::string& output, MergeDecisions& decisions) {
  std::FILE* in = std::fopen(input.c_str(), "r");
  if (in == nullptr) {
    logProblem("opening", input, printer);
    unlink(input.c_str());
    return false;
  }
  const int fd = createWorkFile("korot", "", output);
  std::FILE* out = fd < 0 ? nullptr : fdopen(fd, "w");
  if (out == nullptr) {
    logProblem("opening", output, printer);
    if (fd >= 0) {
      close(fd);
      unlink(output.c_str());
    }
    std::fclose(in);
    unlink(input.c_str());
    return false;
  }
  processNewPPD(in, out, options, count, &decisions);
  const bool readFailed = std::ferror(in) != 0;
  std::fclose(in);
  unlink(input.c_str());
  errno = 0;
  bool writeFailed = std::fflush(out) != 0 || std::ferror(out) != 0;
  int writeErrno = errno;
  if (std::fclose(out) != 0) {
    writeFailed = true;
    if (writeErrno == 0) writeErrno = errno;
  }
  if (!readFailed && !writeFailed) return true;
  if (readFailed) logProblem("reading", input, printer);
  if (writeFailed) {
    logLine(strFormat("Problem writing: %s for printer %s: %s!\n", output.c_str(), printer.queueName.c_str(),
                      writeErrno != 0 ? std::strerror(writeErrno) : "write error"));
  }
  unlink(output.c_str());
  return false;
}

}  // namespace

// Finds the queue's new PPD and writes it, with the queue's old defaults,
// to a complete work file named by outputName.
int makeNewPPD(const std::string& ppdDir, const OptionList& options, int count, const PrinterEntry& printer,
               std::string& outputName, MergeResult* result) {
  logLine(strFormat("Processing Marlo PPD files for printer: %s.\n", printer.queueName.c_str()));
  std::string found;
  if (findNewPPD(ppdDir, printer, found) != 1) {
    logLine("PPD NOT FOUND!\n");
    return 0;
  }
  logLine(strFormat("PPD = %s.\n", found.c_str()));
  MergeResult local;
  MergeResult& merged = result != nullptr ? *result : local;
  merged.found = found;
  std::string input;
  std::string output;
  if (!fetchCandidate(found, printer, input)) return 0;
  if (!mergeCandidate(input, options, count, printer, output, merged.decisions)) return 0;
  logLine(strFormat("New PPD for printer %s in: %s.\n", printer.queueName.c_str(), output.c_str()));
  outputName = output;
  return 0;
}
