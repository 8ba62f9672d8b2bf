// The product's installation manifest (VELAINST.CONF): which file goes where,
// with which mode.
#pragma once

#include <array>
#include <string>
#include <string_view>

inline constexpr std::size_t kManifestEntries = 256;
inline constexpr std::size_t kSourceLimit = 47;
inline constexpr std::size_t kDestinationLimit = 255;

struct ManifestEntry {
  std::string source;
  std::string destination;
  int mode = 0;
};

using ManifestTable = std::array<ManifestEntry, kManifestEntries>;

ManifestTable& manifestTable();

// Reads the manifest of the source directory into the table; returns the
// number of entries.
int getInfoData();

// What one line (or 255-character piece) of the manifest is.
enum class ManifestLineKind { kEnd, kSkip, kEntry };

struct ManifestLine {
  ManifestLineKind kind = ManifestLineKind::kSkip;
  ManifestEntry entry;   // source and destination not yet held to their limits
  bool hasMode = false;  // a "00" mode word was present
};

// Applies the manifest's line rules to one piece as read (line end included).
ManifestLine parseManifestLine(std::string_view line);
