// The constraints of a PPD as libcups tests them: its "*UIConstraints" and
// "*NonUIConstraints" pairs and its "*cupsUIConstraints" sets, with a side
// "*CustomPageSize True" (or "*Custom<Option> True") read as the custom
// choice of that option, and the "*cupsUIResolver" each set names. The
// merge checks its defaults against exactly what cupstestppd checks.
#pragma once

#include <set>
#include <string>
#include <vector>

// One side of a constraint: an option and the choice it names (empty for
// any choice but None, Off and False).
struct ConstraintSide {
  std::string option;
  std::string choice;
};

// Options that may not stand together with these choices, and the name of
// the PPD's resolver for them (empty when it gives none).
struct PpdConstraint {
  std::vector<ConstraintSide> sides;
  std::string resolver;
};

struct ppd_file_s;

// Every constraint of the opened PPD, the old pairs first, in the PPD's order.
std::vector<PpdConstraint> constraintsOf(ppd_file_s* ppd);

// Whether every side of the constraint holds for the marked choices.
bool isBroken(ppd_file_s* ppd, const PpdConstraint& constraint);

// The marked choices of a broken constraint as "*Option Choice ..." with
// the sides in name order: the same conflict has the same name in an old
// and a new PPD.
std::string conflictName(ppd_file_s* ppd, const PpdConstraint& constraint);

// The choices that the PPD's "*cupsUIResolver <name>" sets, in its order.
std::vector<ConstraintSide> resolverChoices(ppd_file_s* ppd, const std::string& name);

// The names of the broken constraints of the opened, marked PPD.
std::set<std::string> conflictingPairs(ppd_file_s* ppd);
