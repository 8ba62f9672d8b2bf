// The two lines near the top of a PPD that mark it as one of the product's:
// its "*ModelName:" line and its "*% Vela version:" comment.
#include "printers/printer_list.h"

#include "driver/text.h"
#include "printers/model_table.h"

namespace {

constexpr std::string_view kModelMarker = "*ModelName:";
constexpr std::string_view kVersionMarker = "*% Vela version:";
constexpr std::size_t kPdlWindow = 8;

// The page description language named just before the line's last character.
unsigned pdlKindOf(std::string_view line) {
  const std::size_t end = line.size() - 1;
  const std::size_t start = end > kPdlWindow ? end - kPdlWindow : 0;
  const std::string_view window = line.substr(start, end - start);
  if (contains(window, " PCL")) return kPdlPcl;
  if (contains(window, " PXL")) return kPdlPxl;
  if (contains(window, " PS")) return kPdlPostScript;
  return kPdlNone;
}

}  // namespace

// The model text of an accepted model line, its PDL kind and model id.
std::optional<std::string> getModelName(const std::string& line, unsigned& pdlKind, int& modelId) {
  const std::size_t marker = line.find(kModelMarker);
  if (marker == std::string::npos) return std::nullopt;
  pdlKind = pdlKindOf(line);

  std::size_t start = marker + kModelMarker.size();
  while (start < line.size() && line[start] == ' ') ++start;
  std::string text = line.substr(start);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();

  const int id = findModelId(text);
  if (id == 0) return std::nullopt;
  modelId = id;
  return text;
}

// The single digit after the version marker, or -1.
int getPPDVersion(const std::string& line) {
  const std::size_t marker = line.find(kVersionMarker);
  if (marker == std::string::npos) return -1;
  std::size_t at = marker + kVersionMarker.size();
  while (at < line.size() && line[at] == ' ') ++at;
  if (at < line.size() && line[at] >= '0' && line[at] <= '9') return line[at] - '0';
  return -1;
}
