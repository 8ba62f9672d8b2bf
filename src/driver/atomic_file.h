// Replacing a file only by a complete new one: the new content is written to
// a fresh file beside the target and renamed over it, so a full disk, a
// failed write or a killed run leaves either the old file or the new one.
#pragma once

#include <cstdio>
#include <string>

class HostChanges;

// The name prefix of the fresh files. A run killed before its rename leaves
// one behind; whoever lists a directory passes such files over.
inline constexpr const char* kAtomicFilePrefix = ".vela-new-";

class AtomicFile {
 public:
  // Creates the fresh file beside target (same directory, exclusive,
  // unpredictable name; a preview keeps it in its private directory and only
  // notes the rename). ok() tells whether that worked.
  // The run's own records (its report) pass the host itself as through, so
  // that a preview writes them too; everything else goes through host().
  explicit AtomicFile(std::string target);
  AtomicFile(std::string target, HostChanges& through);
  ~AtomicFile();  // removes the fresh file unless commit() succeeded
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  bool ok() const { return stream_ != nullptr && !failed_; }
  std::FILE* stream() { return stream_; }
  bool write(const std::string& text);
  // Flushes, syncs, closes, sets mode (and owner when uid >= 0) and renames
  // over the target. False, with errno kept, when any step failed; the
  // target is then untouched.
  bool commit(int mode, int uid = -1, int gid = -1);
  // What failed, with strerror, for the log.
  const std::string& error() const { return error_; }

 private:
  bool fail(const char* step);
  HostChanges& through_;
  std::string target_;
  std::string tempPath_;
  std::FILE* stream_ = nullptr;
  bool failed_ = false;
  bool committed_ = false;
  std::string error_;
};

// Copies source over target through an AtomicFile, keeping target's mode
// and owner when it is a regular file with no other name, else giving it
// newMode. A link at target is replaced, never written through. Returns 0,
// or -1 with a reason in error.
int replaceFileWithCopy(const std::string& source, const std::string& target, std::string& error,
                        int newMode = 0644);
