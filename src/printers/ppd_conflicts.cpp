// Settling broken constraints on the merged defaults. libcups reads the
// merged text from memory, marks its defaults and says whether any
// "*UIConstraints" or "*NonUIConstraints" pair is broken; the pairs are then
// walked in the PPD's order. A pair is settled only when one of its sides
// is a default that the merge carried (one the new PPD does not ship), so
// conflicts that the new PPD has on its own stay as it made them. libcups
// marks its PPD layer deprecated; it is still the one that tests
// constraints as CUPS does, so the warning is silenced here only.
#include "printers/ppd_conflicts.h"

#include <strings.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "driver/text.h"
#include "driver/update_log.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <cups/ppd.h>

namespace {

// One side of a constraint: an option and the choice it names (empty for
// any choice but None, Off and False).
struct Side {
  std::string option;
  std::string choice;
};

// The merge's state while it settles constraints.
struct Settling {
  MergedPPD& merged;
  ppd_file_t* ppd;
  std::unordered_set<std::string> settled;  // options already changed here
  std::vector<DefaultChange> changes;
};

// libcups reads a PPD from a descriptor, so the text goes to a file in memory.
ppd_file_t* openText(const std::string& text) {
  const int fd = memfd_create("vela-merged-ppd", MFD_CLOEXEC);
  if (fd < 0) return nullptr;
  cups_file_t* file = nullptr;
  if (write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && lseek(fd, 0, SEEK_SET) == 0) {
    file = cupsFileOpenFd(fd, "r");
  }
  if (file == nullptr) {
    close(fd);
    return nullptr;
  }
  ppd_file_t* ppd = ppdOpen2(file);
  cupsFileClose(file);
  return ppd;
}

// The marked choice of the option; a page region stands for the page size and back, as in libcups.
const ppd_choice_t* markedChoice(ppd_file_t* ppd, const std::string& option) {
  const ppd_choice_t* marked = ppdFindMarkedChoice(ppd, option.c_str());
  if (marked == nullptr && (option == "PageSize" || option == "PageRegion")) {
    marked = ppdFindMarkedChoice(ppd, option == "PageSize" ? "PageRegion" : "PageSize");
  }
  return marked;
}

bool isOffChoice(const char* choice) {
  return strcasecmp(choice, "None") == 0 || strcasecmp(choice, "Off") == 0 || strcasecmp(choice, "False") == 0;
}

// Whether the side's option is marked with the choice it names.
bool sideHolds(ppd_file_t* ppd, const Side& side) {
  const ppd_choice_t* marked = markedChoice(ppd, side.option);
  if (marked == nullptr) return false;
  return side.choice.empty() ? !isOffChoice(marked->choice) : side.choice == marked->choice;
}

// Whether the option stands in a group of installable options.
bool isInstallable(ppd_file_t* ppd, const std::string& option) {
  for (int g = 0; g < ppd->num_groups; ++g) {
    const ppd_group_t& group = ppd->groups[g];
    if (strcasestr(group.name, "Installable") == nullptr) continue;
    for (int o = 0; o < group.num_options; ++o) {
      if (option == group.options[o].keyword) return true;
    }
  }
  return false;
}

// A default the merge carried and that has not been changed here yet.
bool isCarried(const Settling& s, const std::string& option) {
  const auto shipped = s.merged.shipped.find(option);
  return shipped != s.merged.shipped.end() && !s.settled.contains(option) &&
         s.merged.valueOf(option) != shipped->second;
}

void change(Settling& s, const std::string& option, const std::string& value, const std::string& reason) {
  s.merged.setDefault(option, value);
  s.settled.insert(option);
  s.changes.push_back({option, value, reason});
}

// Turns on the installable option so that the carried side may stand;
// false when no choice of it settles the pair without a new conflict.
bool turnOnFor(Settling& s, const Side& carried, const std::string& installable) {
  const ppd_option_t* option = ppdFindOption(s.ppd, installable.c_str());
  const std::string current = s.merged.valueOf(installable);
  const int before = ppdConflicts(s.ppd);
  for (int c = 0; option != nullptr && c < option->num_choices; ++c) {
    const std::string choice = option->choices[c].choice;
    if (choice == current) continue;
    ppdMarkOption(s.ppd, installable.c_str(), choice.c_str());
    if (ppdConflicts(s.ppd) < before) {
      const std::string needs = "*" + carried.option + " " + s.merged.valueOf(carried.option);
      logLine(strFormat("processNewPPD: Turning on installable option: *%s/%s (needed by %s).\n", installable.c_str(),
                        choice.c_str(), needs.c_str()));
      change(s, installable, choice, "turned on for " + needs);
      return true;
    }
  }
  ppdMarkOption(s.ppd, installable.c_str(), current.c_str());
  return false;
}

// The carried default yields to the new PPD's own; a page size takes its
// geometry defaults back with it.
void yieldTo(Settling& s, const std::string& option, const Side& other) {
  const std::string value = s.merged.shipped.at(option);
  const auto renamed = s.merged.renamedFrom.find(option);
  const std::string old = (renamed == s.merged.renamedFrom.end() ? "" : renamed->second + " as ") + s.merged.valueOf(option);
  const std::string otherSide = "*" + other.option + " " + s.merged.valueOf(other.option) +
                                (isCarried(s, other.option) ? "" : " of the new PPD");
  logLine(strFormat("processNewPPD: Keeping new default: *%s/%s (%s conflicts with %s).\n", option.c_str(),
                    value.c_str(), old.c_str(), otherSide.c_str()));
  ppdMarkOption(s.ppd, option.c_str(), value.c_str());
  change(s, option, value, "conflicts with " + otherSide);
  if (option != "PageSize") return;
  for (const char* geometry : {"PageRegion", "ImageableArea", "PaperDimension"}) {
    const auto shipped = s.merged.shipped.find(geometry);
    if (shipped == s.merged.shipped.end() || s.merged.valueOf(geometry) == shipped->second) continue;
    change(s, geometry, shipped->second, "follows the page size " + value);
  }
}

// The pair as conflictingPairs names it, with the marked choices.
std::string pairName(ppd_file_t* ppd, const Side& first, const Side& second) {
  std::string one = "*" + first.option + " " + markedChoice(ppd, first.option)->choice;
  std::string two = "*" + second.option + " " + markedChoice(ppd, second.option)->choice;
  return one < two ? one + " " + two : two + " " + one;
}

// Settles one broken pair; false when neither side is a carried default or
// the old PPD had the pair in conflict already.
bool settle(Settling& s, const Side& first, const Side& second) {
  if (s.merged.oldConflicts.contains(pairName(s.ppd, first, second))) return false;
  const bool firstCarried = isCarried(s, first.option), secondCarried = isCarried(s, second.option);
  if (!firstCarried && !secondCarried) return false;
  const Side& carried = secondCarried ? second : first;
  const Side& other = secondCarried ? first : second;
  if (firstCarried != secondCarried && !s.settled.contains(other.option) && isInstallable(s.ppd, other.option) &&
      turnOnFor(s, carried, other.option)) {
    return true;
  }
  yieldTo(s, carried.option, other);
  return true;
}

// Settles the first broken pair that can be settled; false when none is left.
bool settleNext(Settling& s) {
  for (int i = 0; i < s.ppd->num_consts; ++i) {
    const ppd_const_t& constraint = s.ppd->consts[i];
    const Side first{constraint.option1, constraint.choice1}, second{constraint.option2, constraint.choice2};
    if (sideHolds(s.ppd, first) && sideHolds(s.ppd, second) && settle(s, first, second)) return true;
  }
  return false;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line;
  return text;
}

}  // namespace

std::set<std::string> conflictingPairs(ppd_file_t* ppd) {
  std::set<std::string> pairs;
  if (ppdConflicts(ppd) == 0) return pairs;
  for (int i = 0; i < ppd->num_consts; ++i) {
    const ppd_const_t& constraint = ppd->consts[i];
    const Side first{constraint.option1, constraint.choice1}, second{constraint.option2, constraint.choice2};
    if (sideHolds(ppd, first) && sideHolds(ppd, second)) pairs.insert(pairName(ppd, first, second));
  }
  return pairs;
}

std::string MergedPPD::valueOf(const std::string& keyword) const {
  const auto found = defaultLines.find(keyword);
  if (found == defaultLines.end() || found->second.empty()) return {};
  std::string value;
  const std::string& line = lines[found->second.front()];
  const std::size_t colon = line.find(": ");
  if (colon != std::string::npos) value = line.substr(colon + 2);
  while (!value.empty() && value.back() == '\n') value.pop_back();
  return value;
}

void MergedPPD::setDefault(const std::string& keyword, const std::string& value) {
  for (const std::size_t index : defaultLines[keyword]) lines[index] = "*Default" + keyword + ": " + value + "\n";
}

// Each settlement changes an option not changed before, so the walk ends.
std::vector<DefaultChange> resolveDefaultConflicts(MergedPPD& merged) {
  const std::string text = joined(merged.lines);
  if (text.find("Constraints") == std::string::npos) return {};
  ppd_file_t* ppd = openText(text);
  if (ppd == nullptr) return {};
  Settling s{merged, ppd, {}, {}};
  ppdMarkDefaults(ppd);
  while (ppdConflicts(ppd) > 0 && settleNext(s)) {
  }
  ppdClose(ppd);
  return std::move(s.changes);
}

#pragma GCC diagnostic pop
