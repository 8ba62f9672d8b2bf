// Reading the option defaults that a user chose for a queue, from the queue's
// old PPD, through libcups' PPD layer. libcups marks that layer deprecated;
// it is still the one reader that resolves a PPD's defaults as CUPS does, so
// the warning is silenced here and nowhere else.
#include <cstdio>
#include <cstring>

#include "printers/ppd_merge.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <cups/ppd.h>

namespace {

// Appends the option's default when one of its choices carries that name.
int addDefaultOf(const ppd_option_t& option, OptionList& list, int counter) {
  for (int c = 0; c < option.num_choices; ++c) {
    const ppd_choice_t& choice = option.choices[c];
    if (std::strcmp(choice.choice, option.defchoice) != 0) continue;
    OptionEntry entry = newOptEntry();
    entry.keyword.assign(option.keyword, strnlen(option.keyword, kOptionNameLimit));
    entry.defaultChoice.assign(choice.choice, strnlen(choice.choice, kOptionNameLimit));
    entry.index = ++counter;
    addOptList(&list, std::move(entry));
  }
  return counter;
}

}  // namespace

// Collects the default of every option of the PPD's top-level groups.
int readOldDefaults(const std::string& path, OptionList& list, int& count) {
  ppd_file_t* ppd = ppdOpenFile(path.c_str());
  if (ppd == nullptr) {
    std::fprintf(stderr, "Unable to open '%s' as a PPD file!\n", path.c_str());
    return 0;
  }
  int counter = 0;
  for (int g = 0; g < ppd->num_groups; ++g) {
    const ppd_group_t& group = ppd->groups[g];
    for (int o = 0; o < group.num_options; ++o) counter = addDefaultOf(group.options[o], list, counter);
  }
  ppdClose(ppd);
  count = counter;
  return counter;
}

#pragma GCC diagnostic pop
