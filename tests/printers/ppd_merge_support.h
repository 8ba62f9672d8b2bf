// Test helpers for the PPD merge: files that live only in memory (a memfd
// reached by its /proc path, so libcups and child programs can open it) and
// a merge run that returns the output and the log text.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "printers/ppd_merge.h"

class MemFile {
 public:
  explicit MemFile(const std::string& content) : fd_(memfd_create("vela-test", 0)) {
    if (fd_ >= 0 && write(fd_, content.data(), content.size()) != static_cast<ssize_t>(content.size())) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~MemFile() {
    if (fd_ >= 0) close(fd_);
  }
  MemFile(const MemFile&) = delete;
  MemFile& operator=(const MemFile&) = delete;
  std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

 private:
  int fd_;
};

inline std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct MergeResult {
  std::string output;
  std::string log;
};

// Runs processNewPPD over newPPD with the list; the log is what the writer
// sent to standard error.
inline MergeResult mergeText(const std::string& newPPD, const OptionList& list, int count) {
  MergeResult result;
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* in = fmemopen(const_cast<char*>(newPPD.data()), newPPD.size(), "r");
  std::FILE* out = open_memstream(&buffer, &size);
  testing::internal::CaptureStderr();
  if (in != nullptr && out != nullptr) {
    EXPECT_EQ(processNewPPD(in, out, list, count), 0);
  }
  result.log = testing::internal::GetCapturedStderr();
  if (in != nullptr) std::fclose(in);
  if (out != nullptr) std::fclose(out);
  result.output.assign(buffer ? buffer : "", size);
  free(buffer);
  return result;
}
