// The product's installation manifest (VELAINST.CONF): which file goes where,
// with which mode.
#pragma once

#include <array>
#include <string>

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
