// Fuzzes the installation manifest reader: one line through the line rules,
// and the whole input as the source directory's manifest.
#include <cstdint>
#include <cstddef>
#include <string>

#include "fuzz_support.h"
#include "install/manifest.h"

namespace {

bool hasSeparator(const std::string& token) {
  for (char c : token) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x21 || byte > 0x7F) return true;
  }
  return false;
}

void checkLine(const std::string& text) {
  const ManifestLine line = parseManifestLine(text);
  if (line.kind != ManifestLineKind::kEntry) return;
  FUZZ_CHECK(!line.entry.source.empty());
  FUZZ_CHECK(!hasSeparator(line.entry.source) && !hasSeparator(line.entry.destination));
  FUZZ_CHECK(!line.hasMode || line.entry.mode > 0);
}

// The entries a manifest of short lines (no NUL, each under 255 characters)
// must give: every entry line up to the end marker that fits the table.
std::size_t expectedEntries(const std::string& text) {
  if (text.find('\0') != std::string::npos) return SIZE_MAX;
  std::size_t count = 0;
  for (std::size_t start = 0; start < text.size() && count < kManifestEntries;) {
    const std::size_t newline = text.find('\n', start);
    const std::size_t end = newline == std::string::npos ? text.size() : newline + 1;
    if (end - start >= 255) return SIZE_MAX;
    const ManifestLine line = parseManifestLine(text.substr(start, end - start));
    if (line.kind == ManifestLineKind::kEnd) break;
    if (line.kind == ManifestLineKind::kEntry && line.entry.source.size() <= kSourceLimit &&
        line.entry.destination.size() <= kDestinationLimit) {
      ++count;
    }
    start = end;
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::quietLog();
  const std::string text(reinterpret_cast<const char*>(data), size);
  checkLine(text);

  settings().sourceDir = fuzz::scratchDir();
  fuzz::writeInput(fuzz::scratchDir() + "/etc/" + settings().manifestName, text);
  const int count = getInfoData();
  FUZZ_CHECK(count >= 0 && static_cast<std::size_t>(count) <= kManifestEntries);
  const std::size_t expected = expectedEntries(text);
  FUZZ_CHECK(expected == SIZE_MAX || expected == static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const ManifestEntry& entry = manifestTable()[static_cast<std::size_t>(i)];
    FUZZ_CHECK(!entry.source.empty() && entry.source.size() <= kSourceLimit);
    FUZZ_CHECK(entry.destination.size() <= kDestinationLimit);
  }
  return 0;
}
