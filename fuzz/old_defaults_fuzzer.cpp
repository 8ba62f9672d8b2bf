// Fuzzes the reading of a queue's old defaults through libcups (the input is
// the old PPD, written into the private scratch directory) and their merge
// into a valid new PPD that offers every option they name, with custom values.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "merge_check.h"
#include "printers/ppd_merge.h"

namespace {

// A new PPD with a block for each old option: a default of its own, the old
// default's choice when it is a named one, and custom values.
std::string offeringPPD(const OptionList& list) {
  std::string ppd = "*PPD-Adobe: \"4.3\"\n";
  for (const OptionEntry& entry : list.entries) {
    const std::string& name = entry.keyword;
    ppd += "*OpenUI *" + name + ": PickOne\n*Default" + name + ": Fixed\n*" + name + " Fixed: \"\"\n";
    if (!entry.defaultChoice.starts_with("Custom.")) ppd += "*" + name + " " + entry.defaultChoice + ": \"\"\n";
    ppd += "*Custom" + name + " True: \"\"\n*CloseUI: *" + name + "\n";
  }
  return ppd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::quietLog();
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string path = fuzz::scratchDir() + "/old.ppd";
  fuzz::writeInput(path, text);
  OptionList list;
  int count = -1;
  const int added = readOldDefaults(path, list, count);
  FUZZ_CHECK(added >= 0 && (added == 0 || count == added));
  FUZZ_CHECK(list.entries.size() == static_cast<std::size_t>(added));
  // libcups holds a keyword and a choice name in 40 characters; a custom
  // value is taken whole from the old PPD's default line.
  for (const OptionEntry& entry : list.entries) {
    FUZZ_CHECK(entry.keyword.size() <= kOptionNameLimit);
    FUZZ_CHECK(entry.defaultChoice.size() <= kOptionNameLimit || entry.defaultChoice.starts_with("Custom."));
    FUZZ_CHECK(findOption(&list, "*" + entry.keyword) != nullptr);
  }
  const std::string ppd = offeringPPD(list);
  FUZZ_CHECK(fuzz::allPpdLines(ppd));
  fuzz::checkedMerge(ppd, list, added);
  return 0;
}
