// The choices a new PPD offers, read from its text: a choice is the option
// keyword that follows a main keyword on a line of its own ("*MediaType
// Glossy/Glossy Paper: ..."), wherever in the file it stands, as libcups
// reads it too. Page sizes also appear as "*ImageableArea Letter" and
// "*PaperDimension Letter" lines, which the page-size defaults follow. A
// carried custom value is whatever the old PPD's default line held; it is
// offered only when the new PPD's default line can hold it too.
#include "printers/ppd_offered_choices.h"

#include <algorithm>
#include <string>

#include "printers/ppd_merge.h"

namespace {

bool endsMainKeyword(char c) { return c == ' ' || c == '\t' || c == ':' || c == '/' || c == '\r' || c == '\n'; }
bool endsChoice(char c) { return c == '/' || c == ':' || c == '\r' || c == '\n'; }

// The main keyword (without '*') and choice of a line, or false for a
// comment, a line without a choice, or text that is not a keyword line.
bool splitChoiceLine(std::string_view line, std::string_view& keyword, std::string_view& choice) {
  if (line.size() < 2 || line[0] != '*' || line[1] == '%') return false;
  std::size_t end = 1;
  while (end < line.size() && !endsMainKeyword(line[end])) ++end;
  if (end == 1 || end >= line.size() || (line[end] != ' ' && line[end] != '\t')) return false;
  keyword = line.substr(1, end - 1);
  std::size_t start = end;
  while (start < line.size() && (line[start] == ' ' || line[start] == '\t')) ++start;
  std::size_t stop = start;
  while (stop < line.size() && !endsChoice(line[stop])) ++stop;
  while (stop > start && (line[stop - 1] == ' ' || line[stop - 1] == '\t')) --stop;
  if (stop == start) return false;
  choice = line.substr(start, stop - start);
  return true;
}

}  // namespace

// A line longer than the limit makes libcups refuse the whole PPD; a control
// character makes cupstestppd refuse it, and a line end or a NUL byte would
// cut the line short in any reading. Bytes above 127 stay: libcups takes them.
bool fitsDefaultLine(std::string_view keyword, std::string_view value) {
  const std::size_t length = ("*Default" + std::string(keyword) + ": ").size() + value.size();
  const auto isControl = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; };
  return length <= kPpdLineLimit && std::none_of(keyword.begin(), keyword.end(), isControl) &&
         std::none_of(value.begin(), value.end(), isControl);
}

OfferedChoices::OfferedChoices(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    std::string_view keyword, choice;
    if (splitChoiceLine(line, keyword, choice)) choicesByKeyword_[std::string(keyword)].emplace(choice);
  }
}

bool OfferedChoices::names(std::string_view keyword, std::string_view choice) const {
  const auto found = choicesByKeyword_.find(std::string(keyword));
  return found != choicesByKeyword_.end() && found->second.contains(std::string(choice));
}

bool OfferedChoices::offers(std::string_view keyword, std::string_view value) const {
  if (!fitsDefaultLine(keyword, value)) return false;
  if (!value.starts_with("Custom.")) return names(keyword, value);
  const std::string_view sizeKeyword = keyword == "PageRegion" ? std::string_view("PageSize") : keyword;
  return value.size() > 7 && names("Custom" + std::string(sizeKeyword), "True");
}
