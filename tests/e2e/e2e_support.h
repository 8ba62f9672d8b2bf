// Small helpers the end-to-end tests share: the skip rule for a machine
// without CUPS, the other maker's PPD, and waiting for a job's output.
#pragma once

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "support/real_cups.h"
#include "support/sandbox_host.h"

// Skips where no sandbox or no CUPS is at hand; fails instead under CI.
#define REQUIRE_REAL_CUPS()                                                      \
  do {                                                                           \
    REQUIRE_SANDBOX();                                                           \
    const std::string noCups_ = RealCups::unavailableReason();                   \
    if (!noCups_.empty()) {                                                      \
      if (SandboxHost::onCi()) FAIL() << "real CUPS unavailable: " << noCups_;   \
      GTEST_SKIP() << "real CUPS unavailable: " << noCups_;                      \
    }                                                                            \
  } while (0)

// A PostScript PPD of the maker "Other", which the installer must not touch.
inline std::string foreignPpd() {
  std::ifstream in(VELA_SOURCE_DIR "/tests/e2e/data/other-laser.ppd", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// True once path exists in the view and is not empty.
inline bool waitForOutput(const SandboxHost& host, const std::string& path, unsigned seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    if (host.exists(path) && !host.readFile(path).empty()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
}
