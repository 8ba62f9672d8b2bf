// The option list of a queue's old PPD: the defaults that the merge carries
// over, kept in the old PPD's order and indexed by keyword.
#include <cstdio>
#include <cstdlib>

#include "printers/ppd_merge.h"

// A new, empty entry.
OptionEntry newOptEntry() { return OptionEntry{}; }

// Appends entry at the tail; a later entry with a known keyword never
// shadows the first one.
void addOptList(OptionList* list, OptionEntry entry) {
  if (list == nullptr) {
    std::fputs("addOptList(NULL,...) Error!\n", stderr);
    std::exit(1);
  }
  list->firstByKeyword.emplace(entry.keyword, list->entries.size());
  list->entries.push_back(std::move(entry));
}

// Empties the list.
int freeOptList(OptionList& list) {
  list.entries.clear();
  list.firstByKeyword.clear();
  list.pageSizeDimensions.reset();
  list.oldConflicts.clear();
  return 0;
}

// The first entry whose keyword is keyword without its leading '*'.
const OptionEntry* findOption(const OptionList* list, std::string_view keyword) {
  if (list == nullptr || keyword.empty()) return nullptr;
  const auto found = list->firstByKeyword.find(std::string(keyword.substr(1)));
  if (found == list->firstByKeyword.end()) return nullptr;
  return &list->entries[found->second];
}
