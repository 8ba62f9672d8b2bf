// Writing a new PPD with a queue's old defaults: the new PPD is copied line
// by line, and each "*Default" line inside an "*OpenUI" block is written anew
// with the old default of its option, or its own value when the old PPD did
// not have the option.
#include <cstdio>

#include "driver/settings.h"
#include "driver/text.h"
#include "driver/update_log.h"
#include "printers/ppd_merge.h"

namespace {

bool endsKeyword(char c) { return c == ' ' || c == ':' || c == '\r' || c == '\n'; }
bool endsValue(char c) { return c == ' ' || c == '\r' || c == '\n'; }

void writeText(std::FILE* output, std::string_view text) { std::fwrite(text.data(), 1, text.size(), output); }

// Writes the line, or its rewritten "*Default" form when it is one.
void rewriteCheck(std::string_view line, std::FILE* output, const OptionList& list) {
  std::string value;
  std::optional<std::string> parsed;
  if (contains(line, "Default")) parsed = parseDefaultLine(line, value);
  if (!parsed) {
    writeText(output, line);
    return;
  }
  std::string keyword = *parsed;
  chopLineEnd(keyword);
  if (settings().debugLevel > 0) logLine(strFormat("processNewPPD(%s).\n", keyword.c_str()));
  if (const OptionEntry* entry = findOption(&list, keyword)) {
    logLine(strFormat("processNewPPD: Setting new option: %s/%s.\n", keyword.c_str(), entry->defaultChoice.c_str()));
    if (!entry->defaultChoice.empty()) value = entry->defaultChoice;
  }
  writeText(output, "*Default" + keyword.substr(1) + ": " + value + "\n");
  std::fflush(output);
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

// Copies input to output, rewriting the defaults of the option blocks.
int processNewPPD(std::FILE* input, std::FILE* output, const OptionList& list, int nOptions) {
  logLine(strFormat("processNewPPD(nOptions=%d)\n", nOptions));
  bool inside = false;
  std::string line;
  while (readLine255(input, line)) {
    if (!inside && !contains(line, "*OpenUI")) {
      writeText(output, line);
    } else if (inside && contains(line, "*CloseUI")) {
      writeText(output, line);
      inside = false;
    } else {
      rewriteCheck(line, output, list);
      inside = true;
    }
  }
  return 0;
}
