// Reading the option defaults that a user chose for a queue, from the queue's
// old PPD, through libcups' PPD layer. libcups marks that layer deprecated;
// it is still the one reader that resolves a PPD's defaults as CUPS does, so
// the warning is silenced here and nowhere else.
#include <cstdio>
#include <cstring>
#include <string>

#include <unistd.h>

#include "driver/regular_file.h"
#include "printers/ppd_constraints.h"
#include "printers/ppd_merge.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <cups/ppd.h>

namespace {

int addEntry(OptionList& list, const char* keyword, std::string defaultChoice, int counter) {
  OptionEntry entry = newOptEntry();
  entry.keyword.assign(keyword, strnlen(keyword, kOptionNameLimit));
  entry.defaultChoice = std::move(defaultChoice);
  entry.index = ++counter;
  addOptList(&list, std::move(entry));
  return counter;
}

// A custom value ("Custom.300x400", "Custom.acc42") as the PPD's "*Default"
// line wrote it: libcups keeps only 40 characters of it as the default
// choice, but the whole value in the line's attribute.
std::string customDefaultOf(ppd_file_t* ppd, const ppd_option_t& option) {
  const std::string name = std::string("Default") + option.keyword;
  const ppd_attr_t* attr = ppdFindAttr(ppd, name.c_str(), nullptr);
  if (attr != nullptr && attr->value != nullptr && std::strncmp(attr->value, option.defchoice, 40) == 0) {
    std::string value = attr->value;
    while (!value.empty() && std::strchr(" \t\r\n", value.back()) != nullptr) value.pop_back();
    return value;
  }
  return option.defchoice;
}

// Appends the option's default when one of its choices carries that name,
// or when it is a custom value; whether the new PPD takes it is the merge's
// question.
int addDefaultOf(ppd_file_t* ppd, const ppd_option_t& option, OptionList& list, int counter) {
  if (std::strncmp(option.defchoice, "Custom.", 7) == 0 && option.defchoice[7] != '\0') {
    return addEntry(list, option.keyword, customDefaultOf(ppd, option), counter);
  }
  for (int c = 0; c < option.num_choices; ++c) {
    const ppd_choice_t& choice = option.choices[c];
    if (std::strcmp(choice.choice, option.defchoice) != 0) continue;
    counter = addEntry(list, option.keyword, std::string(choice.choice, strnlen(choice.choice, kOptionNameLimit)), counter);
  }
  return counter;
}

// The dimensions of the PPD's default page size, from its own
// "*PaperDimension" line; nothing for a custom size or a size without one.
std::optional<PageDimensions> defaultPageDimensions(ppd_file_t* ppd) {
  const ppd_option_t* pageSize = ppdFindOption(ppd, "PageSize");
  if (pageSize == nullptr || std::strncmp(pageSize->defchoice, "Custom.", 7) == 0) return std::nullopt;
  const ppd_size_t* size = ppdPageSize(ppd, pageSize->defchoice);
  if (size == nullptr || size->width <= 0 || size->length <= 0) return std::nullopt;
  return PageDimensions{size->width, size->length};
}

}  // namespace

// Collects the default of every option of the PPD's top-level groups, the
// dimensions of its default page size and the pairs of its defaults that
// its constraints forbid.
int readOldDefaults(const std::string& path, OptionList& list, int& count) {
  ppd_file_t* ppd = ppdOpenFile(path.c_str());
  if (ppd == nullptr) {
    std::fprintf(stderr, "Unable to open '%s' as a PPD file!\n", path.c_str());
    return 0;
  }
  int counter = 0;
  for (int g = 0; g < ppd->num_groups; ++g) {
    const ppd_group_t& group = ppd->groups[g];
    for (int o = 0; o < group.num_options; ++o) counter = addDefaultOf(ppd, group.options[o], list, counter);
  }
  list.pageSizeDimensions = defaultPageDimensions(ppd);
  ppdMarkDefaults(ppd);
  list.oldConflicts = conflictingPairs(ppd);
  ppdClose(ppd);
  count = counter;
  return counter;
}

// Opened only when it is a regular file: a pipe would stall the check.
bool opensAsPPD(const std::string& path) {
  const int fd = openRegularFd(path);
  if (fd < 0) return false;
  ppd_file_t* ppd = ppdOpenFd(fd);
  ::close(fd);
  if (ppd == nullptr) return false;
  ppdClose(ppd);
  return true;
}

#pragma GCC diagnostic pop
