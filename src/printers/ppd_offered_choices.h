// What a new PPD offers for each of its options: the choice names written
// after each main keyword anywhere in the file, and which options take a
// custom value. The merge looks an old default up here before it writes it,
// so that a queue's PPD never names a choice its new PPD does not have.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// Whether "*Default<keyword>: <value>" is a line a PPD can hold: within
// kPpdLineLimit and without control characters.
bool fitsDefaultLine(std::string_view keyword, std::string_view value);

class OfferedChoices {
 public:
  // Collects the "*Keyword Choice[/Text]: ..." lines of the PPD's lines.
  explicit OfferedChoices(const std::vector<std::string>& lines);

  // Whether the PPD has a "*<keyword> <choice>" line.
  bool names(std::string_view keyword, std::string_view choice) const;
  // Whether value is a choice of the option that its default line can hold:
  // a named one, or a "Custom.<v>" value where the PPD accepts custom values
  // for it ("*CustomPageSize True" for page sizes and regions,
  // "*Custom<keyword> True" for the others).
  bool offers(std::string_view keyword, std::string_view value) const;

 private:
  std::unordered_map<std::string, std::unordered_set<std::string>> choicesByKeyword_;
};
