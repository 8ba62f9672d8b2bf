// Carrying a queue's option defaults from its old PPD into a new one: the old
// defaults are collected through libcups, then the new PPD is copied line by
// line with the "*Default" lines of its option blocks written anew.
#pragma once

#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "printers/ppd_page_sizes.h"

// Widths of libcups' option keyword and choice name fields.
inline constexpr std::size_t kOptionNameLimit = 40;
// The longest line a PPD may hold, without its line end: libcups refuses a
// PPD with a longer one. A carried default's "*Default" line stays within it.
inline constexpr std::size_t kPpdLineLimit = 255;
// A keyword from a "*Default" line (after its '*') and its value.
inline constexpr std::size_t kDefaultKeywordLimit = 78;
inline constexpr std::size_t kDefaultValueLimit = 79;

// One option of the old PPD and its default choice.
struct OptionEntry {
  std::string keyword;        // without the leading '*'
  std::string defaultChoice;
  int index = 0;              // order number, counted from 1
};

// The old PPD's options in group and option order, with an index on the
// keyword so that a lookup stays fast for PPDs with thousands of options.
struct OptionList {
  std::vector<OptionEntry> entries;
  std::unordered_map<std::string, std::size_t> firstByKeyword;
  // The old PPD's own dimensions of its default page size, when it has them.
  std::optional<PageDimensions> pageSizeDimensions;
  // The pairs of defaults that the old PPD's own constraints forbid.
  std::set<std::string> oldConflicts;
};

// What became of one default of the old PPD in the merged one: carried, or
// not and why, with the default the merged PPD has instead. The run's
// report and the preview tell these setting by setting.
struct SettingDecision {
  std::string option;      // keyword without the leading '*'
  std::string value;       // the old PPD's default
  bool carried = false;
  std::string reason;      // why not carried
  std::string newDefault;  // the merged PPD's default when not carried; empty when it has none
};
using MergeDecisions = std::vector<SettingDecision>;

// Collects the default of every option of the PPD at path (a custom value
// as the PPD wrote it). Returns the
// number of entries added (also put in count), or 0 when libcups cannot
// open the file (count is then left alone).
int readOldDefaults(const std::string& path, OptionList& list, int& count);

// Whether libcups opens the regular file at path as a PPD file.
bool opensAsPPD(const std::string& path);

// Copies input to output, rewriting the "*Default" lines inside the
// "*OpenUI" and "*JCLOpenUI" blocks with the listed defaults that the new
// PPD offers; the page-size geometry defaults follow a carried page size.
// A page size the new PPD names differently is carried by its dimensions,
// and defaults that the new PPD's constraints forbid together are settled.
// Always 0; the caller checks both streams for errors and closes them. When
// decisions is given it receives one entry per old default, in the old PPD's
// order.
int processNewPPD(std::FILE* input, std::FILE* output, const OptionList& list, int nOptions,
                  MergeDecisions* decisions = nullptr);

// The keyword (with its '*') of a "*Default" line that is to be rewritten,
// its value in value; nothing for any other line.
std::optional<std::string> parseDefaultLine(std::string_view line, std::string& value);

// The first entry whose keyword equals keyword without its leading '*'.
const OptionEntry* findOption(const OptionList* list, std::string_view keyword);

// Appends entry at the tail. Ends the process with status 1 when list is null.
void addOptList(OptionList* list, OptionEntry entry);
// Empties the list. Always 0.
int freeOptList(OptionList& list);
// A new, empty entry.
OptionEntry newOptEntry();
