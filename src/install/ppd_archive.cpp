// The tar archive of the PPD installation directory, kept in /var/tmp before
// an upgrade from the older generation overwrites its PPD files. tar writes
// into a fresh file of its own, which is renamed to the archive's fixed name
// only when tar succeeded: a planted link at that name is replaced, never
// written through, and a failed tar keeps an earlier archive. The entries go
// to tar after "--", so a name that looks like an option is still a name.
// Both the tar command and the move go through the run's HostChanges.
#include "install/ppd_archive.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "driver/durable_changes.h"
#include "driver/host_changes.h"
#include "driver/shell.h"
#include "driver/text.h"
#include "driver/update_log.h"

namespace {

constexpr const char* kArchive = "/var/tmp/VelaPPDFiles4.0-5.tar";

// Runs the archiving script into a fresh file and moves it into place.
int archiveInto(const std::string& dir, const std::string& archive) {
  std::string fresh = host().freshFileTemplate(archive + ".XXXXXX");
  const int fd = mkstemp(fresh.data());
  if (fd < 0) {
    logLine(strFormat("Could not create a file beside %s: %s.", archive.c_str(), std::strerror(errno)));
    return -1;
  }
  close(fd);
  const std::string script =
      strFormat("#!/bin/sh\nc=`pwd`\ncd %s\ntar cf %s -- *\ncd ${c}\n", shellWord(dir).c_str(), fresh.c_str());
  const int status = runHostCommand(script);
  // What tar wrote is on disk before its name replaces the earlier archive.
  const bool synced = !host().changesHost() || syncFileData(fresh);
  if (status == 0 && synced && chmod(fresh.c_str(), 0644) == 0 && host().placeFile(fresh, archive) == 0) return status;
  if (status == 0) {
    logLine(strFormat("Could not move %s to %s: %s.", fresh.c_str(), archive.c_str(), std::strerror(errno)));
  }
  unlink(fresh.c_str());
  return status;
}

}  // namespace

int savePPDFiles(const std::string& dir) {
  if (dir.empty() || !host().isDirectory(dir)) {
    logLine(strFormat("Cannot access PPD dir: \"%s\"\n", dir.c_str()));
    return -1;
  }
  const std::string archive = kArchive;
  const int status = archiveInto(dir, archive);
  logLine(strFormat("Saved PPD files from: %s.\n", dir.c_str()));
  logLine(strFormat("To: %s.\n", archive.c_str()));
  return status;
}
