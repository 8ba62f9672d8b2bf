// Reading a PPD's constraints the way libcups' conflict test reads them, so
// that the merge sees every conflict that cupstestppd reports: the old
// pairs from libcups' parsed "*UIConstraints" and "*NonUIConstraints", the
// "*cupsUIConstraints" sets from their attributes, and "*Custom<Option>
// True" as the custom choice of the option. libcups marks its PPD layer
// deprecated; it is still the one that marks defaults as CUPS does, so the
// warning is silenced here only.
#include "printers/ppd_constraints.h"

#include <strings.h>

#include <algorithm>
#include <sstream>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <cups/ppd.h>

namespace {

// "*CustomPageSize True" stands for PageSize's custom choice.
ConstraintSide sideOf(std::string option, std::string choice) {
  if (option.size() > 6 && strncasecmp(option.c_str(), "Custom", 6) == 0 && strcasecmp(choice.c_str(), "True") == 0) {
    return {option.substr(6), "Custom"};
  }
  return {std::move(option), std::move(choice)};
}

// "*Option Choice *Option *Option Choice": each option with its choice, if any.
std::vector<ConstraintSide> sidesOf(const char* value) {
  std::vector<ConstraintSide> sides;
  std::istringstream words(value == nullptr ? "" : value);
  for (std::string word; words >> word;) {
    if (word.size() > 1 && word[0] == '*') {
      sides.push_back({word.substr(1), {}});
    } else if (!sides.empty() && sides.back().choice.empty()) {
      sides.back().choice = word;
    }
  }
  for (ConstraintSide& side : sides) side = sideOf(side.option, side.choice);
  return sides;
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
bool sideHolds(ppd_file_t* ppd, const ConstraintSide& side) {
  const ppd_choice_t* marked = markedChoice(ppd, side.option);
  if (marked == nullptr) return false;
  return side.choice.empty() ? !isOffChoice(marked->choice) : strcasecmp(side.choice.c_str(), marked->choice) == 0;
}

}  // namespace

std::vector<PpdConstraint> constraintsOf(ppd_file_t* ppd) {
  std::vector<PpdConstraint> constraints;
  for (int i = 0; i < ppd->num_consts; ++i) {
    const ppd_const_t& pair = ppd->consts[i];
    constraints.push_back({{sideOf(pair.option1, pair.choice1), sideOf(pair.option2, pair.choice2)}, {}});
  }
  for (ppd_attr_t* attr = ppdFindAttr(ppd, "cupsUIConstraints", nullptr); attr != nullptr;
       attr = ppdFindNextAttr(ppd, "cupsUIConstraints", nullptr)) {
    // The attribute's option keyword names the set's resolver.
    const auto& [keyword, resolver, text, value] = *attr;
    PpdConstraint constraint{sidesOf(value), resolver};
    if (constraint.sides.size() >= 2) constraints.push_back(std::move(constraint));
  }
  return constraints;
}

bool isBroken(ppd_file_t* ppd, const PpdConstraint& constraint) {
  return std::all_of(constraint.sides.begin(), constraint.sides.end(),
                     [ppd](const ConstraintSide& side) { return sideHolds(ppd, side); });
}

std::string conflictName(ppd_file_t* ppd, const PpdConstraint& constraint) {
  std::vector<std::string> sides;
  for (const ConstraintSide& side : constraint.sides) {
    const ppd_choice_t* marked = markedChoice(ppd, side.option);
    sides.push_back("*" + side.option + " " + (marked == nullptr ? "" : marked->choice));
  }
  std::sort(sides.begin(), sides.end());
  std::string name;
  for (const std::string& side : sides) name += (name.empty() ? "" : " ") + side;
  return name;
}

std::vector<ConstraintSide> resolverChoices(ppd_file_t* ppd, const std::string& name) {
  if (name.empty()) return {};
  const ppd_attr_t* resolver = ppdFindAttr(ppd, "cupsUIResolver", name.c_str());
  std::vector<ConstraintSide> choices = resolver == nullptr ? std::vector<ConstraintSide>() : sidesOf(resolver->value);
  std::erase_if(choices, [](const ConstraintSide& side) { return side.choice.empty(); });
  return choices;
}

std::set<std::string> conflictingPairs(ppd_file_t* ppd) {
  std::set<std::string> names;
  if (ppdConflicts(ppd) == 0) return names;
  for (const PpdConstraint& constraint : constraintsOf(ppd)) {
    if (isBroken(ppd, constraint)) names.insert(conflictName(ppd, constraint));
  }
  return names;
}

#pragma GCC diagnostic pop
