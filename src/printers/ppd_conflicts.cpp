// Settling broken constraints on the merged defaults. libcups reads the
// merged text from memory, marks its defaults and says whether any
// constraint is broken ("*UIConstraints", "*NonUIConstraints" and
// "*cupsUIConstraints" alike); the constraints are then walked in the PPD's
// order. One is settled only when one of its sides
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
#include "printers/ppd_constraints.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <cups/ppd.h>

namespace {

// The merge's state while it settles constraints.
struct Settling {
  MergedPPD& merged;
  ppd_file_t* ppd;
  std::vector<PpdConstraint> constraints;
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

// The option a side stands for: libcups tests a page region against the
// marked page size.
std::string optionOf(const ConstraintSide& side) { return side.option == "PageRegion" ? "PageSize" : side.option; }

// What the media loaded in the printer is described by ranks highest: it does
// not change with a driver.
int mediaRank(const std::string& option) {
  if (option == "PageSize") return 3;
  if (option == "MediaType") return 2;
  return option == "InputSlot" ? 1 : 0;
}

// Turns on the installable option so that the carried option may stand;
// false when no choice of it settles the conflict without a new one.
bool turnOnFor(Settling& s, const std::string& carried, const std::string& installable) {
  const ppd_option_t* option = ppdFindOption(s.ppd, installable.c_str());
  const std::string current = s.merged.valueOf(installable);
  const int before = ppdConflicts(s.ppd);
  for (int c = 0; option != nullptr && c < option->num_choices; ++c) {
    const std::string choice = option->choices[c].choice;
    if (choice == current) continue;
    ppdMarkOption(s.ppd, installable.c_str(), choice.c_str());
    if (ppdConflicts(s.ppd) < before) {
      const std::string needs = "*" + carried + " " + s.merged.valueOf(carried);
      logLine(strFormat("processNewPPD: Turning on installable option: *%s/%s (needed by %s).\n", installable.c_str(),
                        choice.c_str(), needs.c_str()));
      change(s, installable, choice, "turned on for " + needs);
      return true;
    }
  }
  ppdMarkOption(s.ppd, installable.c_str(), current.c_str());
  return false;
}

// The other sides of the constraint as the log names them.
std::string othersOf(const Settling& s, const PpdConstraint& constraint, const std::string& yielding) {
  std::string text;
  for (const ConstraintSide& side : constraint.sides) {
    const std::string option = optionOf(side);
    if (option == yielding) continue;
    text += (text.empty() ? "*" : " and *") + option + " " + s.merged.valueOf(option) +
            (isCarried(s, option) ? "" : " of the new PPD");
  }
  return text;
}

// The choice of the option that the constraint's "*cupsUIResolver" sets;
// empty when it names none the option has. A page size is never taken
// from it: its geometry lines follow the new PPD's default.
std::string resolverChoiceFor(const Settling& s, const PpdConstraint& constraint, const std::string& option) {
  if (option == "PageSize") return {};
  ppd_option_t* found = ppdFindOption(s.ppd, option.c_str());
  for (const ConstraintSide& side : resolverChoices(s.ppd, constraint.resolver)) {
    const ppd_choice_t* choice = found == nullptr ? nullptr : ppdFindChoice(found, side.choice.c_str());
    if (side.option == option && choice != nullptr) return choice->choice;
  }
  return {};
}

// The carried default yields: to the choice the PPD's resolver gives it,
// else to the new PPD's own default; a page size takes its geometry
// defaults back with it.
void yieldTo(Settling& s, const PpdConstraint& constraint, const std::string& option) {
  const std::string resolved = resolverChoiceFor(s, constraint, option);
  const std::string value = resolved.empty() ? s.merged.shipped.at(option) : resolved;
  const auto renamed = s.merged.renamedFrom.find(option);
  const std::string old = (renamed == s.merged.renamedFrom.end() ? "" : renamed->second + " as ") + s.merged.valueOf(option);
  const std::string others = othersOf(s, constraint, option);
  if (resolved.empty()) {
    logLine(strFormat("processNewPPD: Keeping new default: *%s/%s (%s conflicts with %s).\n", option.c_str(),
                      value.c_str(), old.c_str(), others.c_str()));
    change(s, option, value, "conflicts with " + others);
  } else {
    logLine(strFormat("processNewPPD: Taking the resolver's choice: *%s/%s (%s conflicts with %s; *cupsUIResolver %s).\n",
                      option.c_str(), value.c_str(), old.c_str(), others.c_str(), constraint.resolver.c_str()));
    change(s, option, value, "conflicts with " + others + ", as the new PPD's resolver " + constraint.resolver + " sets it");
  }
  ppdMarkOption(s.ppd, option.c_str(), value.c_str());
  if (option != "PageSize") return;
  for (const char* geometry : {"PageRegion", "ImageableArea", "PaperDimension"}) {
    const auto shipped = s.merged.shipped.find(geometry);
    if (shipped == s.merged.shipped.end() || s.merged.valueOf(geometry) == shipped->second) continue;
    change(s, geometry, shipped->second, "follows the page size " + value);
  }
}

// Settles one broken constraint; false when no side is a carried default
// or the old PPD had the conflict already. Of two carried defaults the one
// that ranks lower as media yields (of equals, the later one); a single
// carried default may have an installable option turned on for it.
bool settle(Settling& s, const PpdConstraint& constraint) {
  if (s.merged.oldConflicts.contains(conflictName(s.ppd, constraint))) return false;
  std::string yielding;
  int carried = 0;
  for (const ConstraintSide& side : constraint.sides) {
    const std::string option = optionOf(side);
    if (!isCarried(s, option)) continue;
    ++carried;
    if (yielding.empty() || mediaRank(option) <= mediaRank(yielding)) yielding = option;
  }
  if (carried == 0) return false;
  for (const ConstraintSide& side : carried == 1 ? constraint.sides : std::vector<ConstraintSide>()) {
    const std::string option = optionOf(side);
    if (option != yielding && !s.settled.contains(option) && isInstallable(s.ppd, option) &&
        turnOnFor(s, yielding, option)) {
      return true;
    }
  }
  yieldTo(s, constraint, yielding);
  return true;
}

// Settles the first broken constraint that can be settled; false when none is left.
bool settleNext(Settling& s) {
  for (const PpdConstraint& constraint : s.constraints) {
    if (isBroken(s.ppd, constraint) && settle(s, constraint)) return true;
  }
  return false;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line;
  return text;
}

}  // namespace

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
  Settling s{merged, ppd, constraintsOf(ppd), {}, {}};
  ppdMarkDefaults(ppd);
  while (ppdConflicts(ppd) > 0 && settleNext(s)) {
  }
  ppdClose(ppd);
  return std::move(s.changes);
}

#pragma GCC diagnostic pop
