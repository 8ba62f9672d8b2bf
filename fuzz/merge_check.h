// What every merge of old defaults into a new PPD keeps, whatever the
// defaults: a new PPD of valid lines comes out as valid lines, so each
// carried default is written as a "*Default" line a PPD can hold.
#pragma once

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "printers/ppd_merge.h"

namespace fuzz {

// A line that libcups reads, strict as cupstestppd or not, as the one line it
// is: at most kPpdLineLimit characters before its line end, no control
// character but a tab.
inline bool isPpdLine(std::string_view line) {
  if (line.ends_with('\n')) line.remove_suffix(line.ends_with("\r\n") ? 2 : 1);
  if (line.size() > kPpdLineLimit) return false;
  for (const char c : line) {
    if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f) return false;
  }
  return true;
}

// Whether every line of text is a PPD line.
inline bool allPpdLines(std::string_view text) {
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t newline = text.find('\n', start);
    const std::size_t end = newline == std::string_view::npos ? text.size() : newline + 1;
    if (!isPpdLine(text.substr(start, end - start))) return false;
    start = end;
  }
  return true;
}

// Merges list into ppd and checks what every merge keeps: each carried
// default within the line limit and written as its option's default line,
// and valid lines out of valid lines. Returns the merged PPD.
inline std::string checkedMerge(const std::string& ppd, const OptionList& list, int count) {
  std::FILE* input = readStream(ppd);
  char* written = nullptr;
  std::size_t writtenSize = 0;
  std::FILE* output = open_memstream(&written, &writtenSize);
  FUZZ_CHECK(input != nullptr && output != nullptr);
  MergeDecisions decisions;
  FUZZ_CHECK(processNewPPD(input, output, list, count, &decisions) == 0);
  FUZZ_CHECK(std::fflush(output) == 0);
  const std::string result(written, writtenSize);
  std::fclose(input);
  std::fclose(output);
  std::free(written);
  for (const SettingDecision& decision : decisions) {
    if (!decision.carried) continue;
    const std::string line = "*Default" + decision.option + ": " + decision.value;
    FUZZ_CHECK(line.size() <= kPpdLineLimit && result.find(line + "\n") != std::string::npos);
  }
  if (allPpdLines(ppd)) FUZZ_CHECK(allPpdLines(result));
  return result;
}

}  // namespace fuzz
