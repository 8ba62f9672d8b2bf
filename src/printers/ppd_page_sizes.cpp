// Finding a page size by its dimensions: the new PPD's "*PaperDimension"
// lines give each size's width and length in points, and a size of the old
// PPD matches one that is within a point in both. A size never maps to one
// with other dimensions.
#include "printers/ppd_page_sizes.h"

#include <cmath>
#include <cstdio>

#include <cups/cups.h>

#include "printers/ppd_offered_choices.h"

namespace {

constexpr double kPointsPerPwgUnit = 72.0 / 2540.0;
constexpr double kTolerancePoints = 1.0;

// The size name and dimensions of a "*PaperDimension Name/Text: "w l"" line.
bool parsePaperDimension(const std::string& line, std::string& name, PageDimensions& dimensions) {
  constexpr std::string_view kKeyword = "*PaperDimension ";
  if (!line.starts_with(kKeyword)) return false;
  const std::size_t end = line.find_first_of("/:", kKeyword.size());
  const std::size_t quote = line.find('"', kKeyword.size());
  if (end == std::string::npos || quote == std::string::npos || end == kKeyword.size()) return false;
  name = line.substr(kKeyword.size(), end - kKeyword.size());
  while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.pop_back();
  return std::sscanf(line.c_str() + quote + 1, "%lf %lf", &dimensions.width, &dimensions.length) == 2;
}

bool sameDimensions(PageDimensions a, PageDimensions b) {
  return std::fabs(a.width - b.width) <= kTolerancePoints && std::fabs(a.length - b.length) <= kTolerancePoints;
}

}  // namespace

// libcups knows the standard PPD size names and "<w>x<l>" forms.
std::optional<PageDimensions> dimensionsOfSizeName(std::string_view name) {
  const pwg_media_t* media = pwgMediaForPPD(std::string(name).c_str());
  if (media == nullptr) return std::nullopt;
  return PageDimensions{media->width * kPointsPerPwgUnit, media->length * kPointsPerPwgUnit};
}

// Sizes are tried in the PPD's order, so the result does not depend on anything else.
std::string sizeWithDimensions(const std::vector<std::string>& lines, const OfferedChoices& offered,
                               PageDimensions wanted) {
  for (const std::string& line : lines) {
    std::string name;
    PageDimensions dimensions;
    if (parsePaperDimension(line, name, dimensions) && sameDimensions(dimensions, wanted) &&
        offered.names("PageSize", name) && !name.starts_with("Custom")) {
      return name;
    }
  }
  return {};
}
