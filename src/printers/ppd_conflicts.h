// Defaults that contradict each other: a newer PPD may forbid a pair of
// choices that the older one allowed (most often a duplex mode while the
// installable duplex unit is absent by default). Once the merge has chosen
// the defaults, the new PPD's constraints are checked on the merged text and
// every broken one in which a carried default takes part is settled.
#pragma once

#include <set>
#include <string>
#include <unordered_map>
#include <vector>

// The merged PPD in memory, with the "*Default" lines that the merge wrote.
struct MergedPPD {
  std::vector<std::string> lines;
  std::unordered_map<std::string, std::vector<std::size_t>> defaultLines;  // by keyword without '*'
  std::unordered_map<std::string, std::string> shipped;  // the new PPD's own default, by keyword
  std::unordered_map<std::string, std::string> renamedFrom;  // the old name of a value carried by another name
  std::set<std::string> oldConflicts;  // pairs the old PPD had in conflict already, as conflictingPairs names them

  // The value of the keyword's "*Default" line as the merge wrote it.
  std::string valueOf(const std::string& keyword) const;
  // Writes value into every "*Default" line of the keyword.
  void setDefault(const std::string& keyword, const std::string& value);
};

// One default that a constraint made change, and why.
struct DefaultChange {
  std::string option;  // keyword without '*'
  std::string value;   // the value now written
  std::string reason;
};

// Settles the broken constraints of merged in favour of the carried
// defaults, other than conflicts the old PPD had already (the
// administrator chose those together): an installable option that a
// carried default needs is turned on, otherwise the carried default that
// the constraint forbids yields to the new PPD's own default (or to the
// choice its "*cupsUIResolver" for the constraint gives). Of two carried
// defaults, the one that describes the media loaded stays: the page size,
// then the media type, then the input slot. Each settlement is logged in one line. Returns
// every default that changed (the page geometry that follows a yielding
// page size included).
std::vector<DefaultChange> resolveDefaultConflicts(MergedPPD& merged);
