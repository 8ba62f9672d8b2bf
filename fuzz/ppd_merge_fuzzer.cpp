// Fuzzes the default-line parser and the PPD merge: a few old defaults taken
// from the front of the input, the rest merged as the new PPD in memory.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdio.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "merge_check.h"
#include "printers/ppd_merge.h"

namespace {

void checkDefaultLines(const std::string& text) {
  std::FILE* stream = fuzz::readStream(text);
  if (stream == nullptr) return;
  std::string line;
  while (readLine255(stream, line)) {
    std::string value;
    const std::optional<std::string> keyword = parseDefaultLine(line, value);
    if (!keyword) continue;
    FUZZ_CHECK(!keyword->empty() && keyword->front() == '*');
    FUZZ_CHECK(keyword->size() <= kDefaultKeywordLimit + 1 && value.size() <= kDefaultValueLimit);
  }
  std::fclose(stream);
}

std::size_t countLines(std::string_view text) {
  std::size_t lines = 0;
  for (char c : text) lines += c == '\n' ? 1 : 0;
  return lines;
}

// A PPD of whole short lines keeps its line count through the merge.
bool keepsLineCount(const std::string& ppd) {
  if (ppd.empty() || ppd.back() != '\n' || ppd.find('\0') != std::string::npos) return false;
  std::size_t start = 0;
  for (std::size_t newline; (newline = ppd.find('\n', start)) != std::string::npos; start = newline + 1) {
    if (newline + 1 - start >= 255) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::quietLog();
  FuzzedDataProvider provider(data, size);
  OptionList list;
  const int options = provider.ConsumeIntegralInRange(0, 6);
  for (int i = 0; i < options; ++i) {
    OptionEntry entry = newOptEntry();
    entry.keyword = provider.ConsumeRandomLengthString(kOptionNameLimit);
    // An old custom value may be longer than a default line can hold.
    entry.defaultChoice = provider.ConsumeRandomLengthString(kPpdLineLimit + 8);
    entry.index = i + 1;
    addOptList(&list, std::move(entry));
  }
  const std::string ppd = provider.ConsumeRemainingBytesAsString();
  checkDefaultLines(ppd);

  const std::string result = fuzz::checkedMerge(ppd, list, options);
  // Without option blocks (nor page geometry to follow a page size) the PPD is copied as it is.
  const bool plain = ppd.find("OpenUI") == std::string::npos &&
                     ppd.find("*DefaultImageableArea") == std::string::npos &&
                     ppd.find("*DefaultPaperDimension") == std::string::npos;
  if (plain && ppd.find('\0') == std::string::npos) FUZZ_CHECK(result == ppd);
  if (keepsLineCount(ppd)) FUZZ_CHECK(countLines(result) == countLines(ppd));
  return 0;
}
