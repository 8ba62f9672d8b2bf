// A renamed page size: a newer PPD often names the same paper differently
// ("Env10" becomes "Comm10"). The merge carries a page size that the new
// PPD does not offer by name to the size that has its dimensions.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class OfferedChoices;

// A page's width and length in points.
struct PageDimensions {
  double width = 0;
  double length = 0;
};

// The dimensions libcups' PWG media table gives for a PPD size name.
std::optional<PageDimensions> dimensionsOfSizeName(std::string_view name);

// The first page size of the PPD's lines, offered as a PageSize choice,
// whose *PaperDimension is within a point of wanted; empty when none is.
std::string sizeWithDimensions(const std::vector<std::string>& lines, const OfferedChoices& offered,
                               PageDimensions wanted);
