// Fuzzes the reading of a queue's old defaults through libcups: the input is
// the old PPD, written into the private scratch directory.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "printers/ppd_merge.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string path = fuzz::scratchDir() + "/old.ppd";
  fuzz::writeInput(path, text);
  OptionList list;
  int count = -1;
  const int added = readOldDefaults(path, list, count);
  FUZZ_CHECK(added >= 0 && (added == 0 || count == added));
  FUZZ_CHECK(list.entries.size() == static_cast<std::size_t>(added));
  for (const OptionEntry& entry : list.entries) {
    FUZZ_CHECK(entry.keyword.size() <= kOptionNameLimit && entry.defaultChoice.size() <= kOptionNameLimit);
    FUZZ_CHECK(findOption(&list, "*" + entry.keyword) != nullptr);
  }
  return 0;
}
