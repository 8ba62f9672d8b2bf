// What the fuzz targets share: a private scratch directory made once per
// process, a quiet log, and the input as a file or an in-memory stream. A
// target never writes outside its scratch directory and runs no command.
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "driver/settings.h"
#include "driver/text.h"
#include "driver/update_log.h"

namespace fuzz {

// The process's scratch directory, created with mkdtemp on first use and
// removed with everything in it when the process ends. The name is never
// destroyed, so the exit handler can still read it.
inline const std::string& scratchDir() {
  static const std::string& dir = *new std::string([] {
    const char* base = std::getenv("TMPDIR");
    std::string name = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/vela-fuzz-XXXXXX";
    if (mkdtemp(name.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(scratchDir(), ignored);
    });
    return name;
  }());
  return dir;
}

// Sends the run's log lines to a file in the scratch directory: the targets
// log on every input. (A device is never taken as the log.)
inline void quietLog() {
  static const bool opened = [] {
    settings().logPath = scratchDir() + "/UpdateLog";
    return UpdateLog::open(0) == 1;
  }();
  (void)opened;
}

// Writes the input as the whole content of path (made inside the scratch
// directory); aborts when that fails, as the target then tests nothing.
inline void writeInput(const std::string& path, std::string_view data) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  // A fresh file rather than a truncated one: ext4 flushes a file that is
  // truncated and written again on its close, which slows a run a hundredfold.
  ::unlink(path.c_str());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  out.close();
  if (!out) {
    std::perror(path.c_str());
    std::abort();
  }
}

// A read-only stream over the text; the text must outlive the stream.
// fmemopen refuses an empty buffer on some C libraries: an empty input is an
// unnamed, empty temporary file instead.
inline std::FILE* readStream(const std::string& text) {
  if (text.empty()) return std::tmpfile();
  return fmemopen(const_cast<char*>(text.data()), text.size(), "r");
}

}  // namespace fuzz

// Stops the run on a broken promise of the code under test.
#define FUZZ_CHECK(condition) \
  do {                        \
    if (!(condition)) __builtin_trap(); \
  } while (0)
