// Reading the product's installation manifest into the ManifestTable. The
// table and its fields have fixed limits; a line that would exceed one is
// reported in the log and left out rather than cut.
#include "install/manifest.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "driver/regular_file.h"
#include "driver/settings.h"
#include "driver/text.h"
#include "driver/update_log.h"

namespace {

constexpr std::size_t kPieceLimit = 255;

// Token bytes are 0x21 to 0x7F; every other byte separates tokens.
bool isSeparator(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x21 || byte > 0x7F;
}

std::size_t skipSeparators(std::string_view text, std::size_t pos) {
  while (pos < text.size() && isSeparator(text[pos])) ++pos;
  return pos;
}

std::size_t tokenEnd(std::string_view text, std::size_t pos) {
  while (pos < text.size() && !isSeparator(text[pos])) ++pos;
  return pos;
}

// The octal value of a mode word; nothing readable, zero, or a value beyond
// the int range all give 0755.
int modeFromWord(std::string_view word) {
  unsigned long long value = 0;
  for (char c : word) {
    if (c < '0' || c > '7') break;
    value = value * 8 + static_cast<unsigned>(c - '0');
    if (value > INT_MAX) return 0755;
  }
  return value > 0 ? static_cast<int>(value) : 0755;
}

// One fgets-style read of at most 255 characters. complete tells whether the
// piece ends its line (newline read, or end of file next).
bool readPiece(std::FILE* file, std::string& piece, bool& complete) {
  const long before = std::ftell(file);
  if (!readLine255(file, piece)) return false;
  const long after = std::ftell(file);
  const std::size_t consumed =
      before >= 0 && after >= before ? static_cast<std::size_t>(after - before) : piece.size();
  complete = true;
  if (consumed < kPieceLimit) return true;
  int last = piece.size() == consumed ? static_cast<unsigned char>(piece.back()) : EOF;
  if (last == EOF && std::fseek(file, -1, SEEK_CUR) == 0) last = std::getc(file);
  if (last == '\n') return true;
  const int next = std::getc(file);
  if (next == EOF) return true;
  std::ungetc(next, file);
  complete = false;
  return true;
}

std::FILE* openManifest(std::string& path) {
  const SetupSettings& s = settings();
  path = s.sourceDir + "/etc/" + s.manifestName;
  std::FILE* file = path.size() <= kPathLimit ? openRegularFile(path) : nullptr;
  if (file != nullptr) return file;
  path = s.sourceDir + "/" + s.manifestName;
  return path.size() <= kPathLimit ? openRegularFile(path) : nullptr;
}

// Checks the entry against the table's field limits; logs why it does not fit.
bool fitsTable(const ManifestEntry& entry, int lineNumber) {
  if (entry.source.size() > kSourceLimit) {
    logLine(strFormat("Manifest line %d: source longer than %zu characters, entry skipped.", lineNumber,
                      kSourceLimit));
    return false;
  }
  if (entry.destination.size() > kDestinationLimit) {
    logLine(strFormat("Manifest line %d: destination longer than %zu characters, entry skipped.", lineNumber,
                      kDestinationLimit));
    return false;
  }
  return true;
}

// Reads pieces into the table until the manifest ends; returns the count.
int readManifest(std::FILE* file, ManifestTable& table) {
  int count = 0;
  int lineNumber = 0;
  bool continuation = false;
  std::string piece;
  bool complete = true;
  while (readPiece(file, piece, complete)) {
    const bool startsLine = !continuation;
    if (startsLine) ++lineNumber;
    continuation = !complete;
    const ManifestLine line = parseManifestLine(piece);
    if (line.kind == ManifestLineKind::kEnd) break;
    // A line longer than a read is left out whole: its pieces are no lines.
    if (!startsLine || !complete) {
      if (complete) logLine(strFormat("Manifest line %d longer than 255 characters, skipped.", lineNumber));
      continue;
    }
    if (line.kind != ManifestLineKind::kEntry || !fitsTable(line.entry, lineNumber)) continue;
    if (static_cast<std::size_t>(count) == table.size()) {
      logLine(strFormat("Manifest line %d: more than %zu entries, the rest of the manifest is ignored.", lineNumber,
                        table.size()));
      break;
    }
    table[static_cast<std::size_t>(count++)] = line.entry;
    if (line.hasMode && settings().debugLevel > 0) {
      std::fprintf(stderr, "getInfoData: %s ===> %s, o%o.\n", line.entry.source.c_str(),
                   line.entry.destination.c_str(), static_cast<unsigned>(line.entry.mode));
    }
  }
  return count;
}

}  // namespace

ManifestTable& manifestTable() {
  static ManifestTable table;
  return table;
}

ManifestLine parseManifestLine(std::string_view piece) {
  ManifestLine result;
  if (piece.empty() || piece.find("@@NULL") != std::string_view::npos) {
    result.kind = ManifestLineKind::kEnd;
    return result;
  }
  if (piece[0] == '#' || piece[0] == '\n') return result;
  std::string text(piece);
  chopLineEnd(text);
  if (text.empty() || isSeparator(text[0])) return result;

  result.kind = ManifestLineKind::kEntry;
  std::size_t end = tokenEnd(text, 0);
  result.entry.source = text.substr(0, end);
  const std::size_t destStart = skipSeparators(text, end);
  if (destStart == text.size()) return result;
  end = tokenEnd(text, destStart);
  result.entry.destination = text.substr(destStart, end - destStart);

  const std::size_t modeStart = text.find("00", end);
  if (modeStart == std::string::npos) return result;
  const std::string_view word = std::string_view(text).substr(modeStart, tokenEnd(text, modeStart) - modeStart);
  result.entry.mode = modeFromWord(word);
  result.hasMode = true;
  return result;
}

int getInfoData() {
  ManifestTable& table = manifestTable();
  table.fill(ManifestEntry{});
  std::string path;
  std::FILE* file = openManifest(path);
  if (file == nullptr) {
    logLine(strFormat("Cannot open info file: '%s'.\n", path.c_str()));
    return 0;
  }
  logLine(strFormat("VELAINST.CONF = %s.", path.c_str()));
  const int count = readManifest(file, table);
  if (std::ferror(file)) logLine(strFormat("Could not read %s: %s.", path.c_str(), std::strerror(errno)));
  std::fclose(file);
  return count;
}
