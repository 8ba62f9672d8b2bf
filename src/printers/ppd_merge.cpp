// Writing a new PPD with a queue's old defaults: the new PPD is copied line
// by line, and each "*Default" line inside an option block ("*OpenUI" or
// "*JCLOpenUI" up to its close) is written anew with the old default of its
// option when the new PPD offers that choice, else with its own value. When
// the page size is carried, the page region, imageable area and paper
// dimension defaults follow it wherever the new PPD defines that size. A
// page size that the new PPD names differently is carried by its
// dimensions, and defaults that the new PPD's constraints forbid together
// are settled before the merged PPD is written.
#include <cstdio>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "driver/settings.h"
#include "driver/text.h"
#include "driver/update_log.h"
#include "printers/ppd_conflicts.h"
#include "printers/ppd_merge.h"
#include "printers/ppd_offered_choices.h"

namespace {

bool endsKeyword(char c) { return c == ' ' || c == ':' || c == '\r' || c == '\n'; }
bool endsValue(char c) { return c == ' ' || c == '\r' || c == '\n'; }

bool opensBlock(std::string_view line) { return contains(line, "*OpenUI") || contains(line, "*JCLOpenUI"); }
bool closesBlock(std::string_view line) { return contains(line, "*CloseUI") || contains(line, "*JCLCloseUI"); }
void writeText(std::FILE* output, std::string_view text) { std::fwrite(text.data(), 1, text.size(), output); }

constexpr const char* kByDimensions = "by its dimensions";

// Everything the rewrite of one "*Default" line looks at.
struct MergeContext {
  const OptionList& oldDefaults;
  const OfferedChoices& offered;
  MergedPPD& merged;
  std::string pageSize;  // the carried page size, empty when none is
  std::string renamedFrom;  // the old page size when the new PPD has it under another name
  std::unordered_set<std::string> rewritten;  // keywords whose default line was written anew
  std::unordered_map<std::string, SettingDecision> decided;  // by keyword, the first default line's fate
};

// Whether the page region, imageable area or paper dimension default of
// keyword (without '*') follows the carried page size.
bool followsPageSize(std::string_view name, const MergeContext& context) {
  const bool geometry = name == "PageRegion" || name == "ImageableArea" || name == "PaperDimension";
  return geometry && !context.pageSize.empty() && context.offered.names(name, context.pageSize) &&
         fitsDefaultLine(name, context.pageSize);
}

// An imageable-area or paper-dimension default outside the blocks that is
// to follow the carried page size; other lines there stay as they are.
bool isFollowingGeometryLine(std::string_view line, const MergeContext& context) {
  if (context.pageSize.empty() || !contains(line, "*Default")) return false;
  std::string value;
  const std::optional<std::string> keyword = parseDefaultLine(line, value);
  return keyword && *keyword != "*PageRegion" && followsPageSize(keyword->substr(1), context);
}

// The old page size when the new PPD offers it, else the new PPD's size
// with its dimensions (the old PPD's own, else libcups' for its name).
std::string carriedPageSize(const OptionList& list, const OfferedChoices& offered, const std::vector<std::string>& lines) {
  const OptionEntry* entry = findOption(&list, "*PageSize");
  if (entry == nullptr || entry->defaultChoice.empty()) return {};
  if (offered.offers("PageSize", entry->defaultChoice)) return entry->defaultChoice;
  if (entry->defaultChoice.starts_with("Custom.")) return {};
  const std::optional<PageDimensions> dimensions =
      list.pageSizeDimensions ? list.pageSizeDimensions : dimensionsOfSizeName(entry->defaultChoice);
  return dimensions ? sizeWithDimensions(lines, offered, *dimensions) : std::string();
}

// The value to write for the "*Default" line of keyword (with its '*'),
// whose own value is value; each carried or refused old default is logged,
// and why one is not carried goes to reason.
std::string mergedValue(const std::string& keyword, const std::string& value, MergeContext& context,
                        std::string& reason) {
  const std::string name = keyword.substr(1);
  context.rewritten.insert(name);
  const OptionEntry* entry = findOption(&context.oldDefaults, keyword);
  const bool renamed = entry != nullptr && !context.renamedFrom.empty() && entry->defaultChoice == context.renamedFrom;
  if (name == "PageSize" && renamed) {
    logLine(strFormat("processNewPPD: Setting new option: %s/%s (%s by its dimensions).\n", keyword.c_str(),
                      context.pageSize.c_str(), context.renamedFrom.c_str()));
    reason = kByDimensions;
    return context.pageSize;
  }
  if (followsPageSize(name, context)) {
    logLine(strFormat("processNewPPD: Setting new option: %s/%s.\n", keyword.c_str(), context.pageSize.c_str()));
    reason = renamed ? kByDimensions : "follows the page size " + context.pageSize;
    return context.pageSize;
  }
  if (entry == nullptr) return value;
  if (!entry->defaultChoice.empty() && !context.offered.offers(name, entry->defaultChoice)) {
    logLine(strFormat("processNewPPD: Keeping new default: %s/%s (%s is not offered by the new PPD).\n",
                      keyword.c_str(), value.c_str(), entry->defaultChoice.c_str()));
    reason = "not offered by the new PPD";
    return value;
  }
  logLine(strFormat("processNewPPD: Setting new option: %s/%s.\n", keyword.c_str(), entry->defaultChoice.c_str()));
  return entry->defaultChoice.empty() ? value : entry->defaultChoice;
}

// Keeps the fate of the old default of name, as its first default line
// in the new PPD decided it.
void recordDecision(const std::string& name, const std::string& written, const std::string& reason,
                    MergeContext& context) {
  const OptionEntry* entry = findOption(&context.oldDefaults, "*" + name);
  if (entry == nullptr || context.decided.contains(name)) return;
  SettingDecision decision{name, entry->defaultChoice, written == entry->defaultChoice, {}, {}};
  if (reason == kByDimensions) {
    decision = {name, entry->defaultChoice, true, reason, written};
  } else if (!decision.carried) {
    decision.reason = reason.empty() ? "not offered by the new PPD" : reason;
    decision.newDefault = written;
  }
  context.decided.emplace(name, std::move(decision));
}

// Keeps the line, or its rewritten "*Default" form when it is one.
void rewriteCheck(const std::string& line, MergeContext& context) {
  std::string value;
  std::optional<std::string> parsed;
  if (contains(line, "Default")) parsed = parseDefaultLine(line, value);
  if (!parsed) {
    context.merged.lines.push_back(line);
    return;
  }
  std::string keyword = *parsed;
  chopLineEnd(keyword);
  if (settings().debugLevel > 0) logLine(strFormat("processNewPPD(%s).\n", keyword.c_str()));
  const std::string name = keyword.substr(1);
  context.merged.shipped.emplace(name, value);
  std::string reason;
  value = mergedValue(keyword, value, context, reason);
  recordDecision(name, value, reason, context);
  context.merged.defaultLines[name].push_back(context.merged.lines.size());
  context.merged.lines.push_back("*Default" + name + ": " + value + "\n");
}

// Tells each old default that a constraint made change what became of it.
void recordChanges(const std::vector<DefaultChange>& changes, MergeContext& context) {
  for (const DefaultChange& change : changes) {
    const auto found = context.decided.find(change.option);
    if (found == context.decided.end()) continue;
    SettingDecision& decision = found->second;
    decision.carried = change.value == decision.value;
    decision.reason = decision.carried ? std::string() : change.reason;
    decision.newDefault = decision.carried ? std::string() : change.value;
  }
}

// Names each old default whose option has no default line in the new PPD's
// blocks, so that no chosen setting goes without a word in the log.
void logDroppedDefaults(MergeContext& context) {
  for (const OptionEntry& entry : context.oldDefaults.entries) {
    if (context.rewritten.contains(entry.keyword) || findOption(&context.oldDefaults, "*" + entry.keyword) != &entry) continue;
    logLine(strFormat("processNewPPD: Dropping old default: *%s/%s (the new PPD has no default line for it).\n",
                      entry.keyword.c_str(), entry.defaultChoice.c_str()));
    context.decided.emplace(entry.keyword,
                            SettingDecision{entry.keyword, entry.defaultChoice, false, "no default line in the new PPD", {}});
  }
}

// One decision per old option, in the old PPD's order.
void collectDecisions(const MergeContext& context, MergeDecisions& decisions) {
  for (const OptionEntry& entry : context.oldDefaults.entries) {
    if (findOption(&context.oldDefaults, "*" + entry.keyword) != &entry) continue;
    if (const auto found = context.decided.find(entry.keyword); found != context.decided.end()) {
      decisions.push_back(found->second);
    }
  }
}

// The input as the merge reads it: lines of at most 255 characters.
std::vector<std::string> readLines(std::FILE* input) {
  std::vector<std::string> lines;
  for (std::string line; readLine255(input, line);) lines.push_back(std::move(line));
  return lines;
}

}  // namespace

// The keyword and first value word of a "*Default" line; nothing for a line
// without one and for the colour-separation default, which stays as it is.
std::optional<std::string> parseDefaultLine(std::string_view line, std::string& value) {
  if (contains(line, "*DefaultColorSep")) return std::nullopt;
  const std::size_t found = line.find("*Default");
  if (found == std::string_view::npos) return std::nullopt;
  std::size_t pos = found + 8;
  std::string keyword = "*";
  for (; pos < line.size() && !endsKeyword(line[pos]); ++pos) {
    if (keyword.size() <= kDefaultKeywordLimit) keyword += line[pos];
  }
  if (pos < line.size() && line[pos] == ':') ++pos;
  while (pos < line.size() && line[pos] == ' ') ++pos;
  value.clear();
  for (; pos < line.size() && !endsValue(line[pos]) && value.size() < kDefaultValueLimit; ++pos) value += line[pos];
  return keyword;
}

// Copies input to output, rewriting the defaults of the option blocks. The
// whole input is read first: a block names its default before its choices,
// and the constraints are checked on the whole merged text.
int processNewPPD(std::FILE* input, std::FILE* output, const OptionList& list, int nOptions,
                  MergeDecisions* decisions) {
  logLine(strFormat("processNewPPD(nOptions=%d)\n", nOptions));
  const std::vector<std::string> lines = readLines(input);
  const OfferedChoices offered(lines);
  MergedPPD merged;
  merged.oldConflicts = list.oldConflicts;
  MergeContext context{list, offered, merged, carriedPageSize(list, offered, lines), {}, {}, {}};
  if (const OptionEntry* old = findOption(&list, "*PageSize"); old != nullptr && old->defaultChoice != context.pageSize) {
    context.renamedFrom = context.pageSize.empty() ? "" : old->defaultChoice;
    if (!context.renamedFrom.empty()) merged.renamedFrom.emplace("PageSize", context.renamedFrom);
  }
  bool inside = false;
  for (const std::string& line : lines) {
    if (!inside && opensBlock(line)) {
      rewriteCheck(line, context);
      inside = true;
    } else if (!inside) {
      if (isFollowingGeometryLine(line, context)) {
        rewriteCheck(line, context);
      } else {
        merged.lines.push_back(line);
      }
    } else if (closesBlock(line)) {
      merged.lines.push_back(line);
      inside = false;
    } else {
      rewriteCheck(line, context);
    }
  }
  logDroppedDefaults(context);
  recordChanges(resolveDefaultConflicts(merged), context);
  for (const std::string& line : merged.lines) writeText(output, line);
  std::fflush(output);
  if (decisions != nullptr) collectDecisions(context, *decisions);
  return 0;
}
