// Command lookup. The installer names every host command by a full path that
// it found itself in a fixed list of directories, not through the caller's
// search path. Only existence is tested, as the shell will do the rest.
#include "discovery/command_locator.h"

#include <unistd.h>

#include <array>

#include "driver/settings.h"

namespace {

// Candidate paths were built in 128- and 264-byte buffers; a longer one is
// never a candidate.
constexpr std::size_t kSystemCandidateLimit = 127;
constexpr std::size_t kCupsCandidateLimit = 263;

constexpr std::array<std::string_view, 12> kSystemDirs = {
    "/usr/bin", "/usr/sbin", "/usr/ucb", "/bin",    "/sbin",          "/usr/bsd",
    "/etc",     "/usr/etc",  "/usr/lib", "/lib",    "/usr/local/bin", "/usr/freeware/bin",
};

constexpr std::array<std::string_view, 4> kCupsSubdirs = {"/bin/", "/sbin/", "/etc/", "/lib/"};

bool existsWithin(const std::string& candidate, std::size_t limit) {
  return candidate.size() <= limit && access(candidate.c_str(), F_OK) == 0;
}

}  // namespace

std::optional<std::string> locateCommand(std::string_view name) {
  for (std::string_view dir : kSystemDirs) {
    std::string candidate = std::string(dir) + "/" + std::string(name);
    if (existsWithin(candidate, kSystemCandidateLimit)) return candidate;
  }
  return std::nullopt;
}

std::optional<std::string> locateCupsCommand(std::string_view name) {
  const SetupSettings& s = settings();
  if (s.cupsBinDir.empty()) return locateCommand(name);
  for (const std::string* root : {&s.cupsBinDir, &s.cupsBaseDir}) {
    if (root->empty()) continue;
    for (std::string_view sub : kCupsSubdirs) {
      std::string candidate = *root + std::string(sub) + std::string(name);
      if (existsWithin(candidate, kCupsCandidateLimit)) return candidate;
    }
  }
  return std::string(name);
}
