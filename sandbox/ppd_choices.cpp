// The administrator's choices on a queue of a real PPD: the harness reads
// the PPD's text line by line, then picks choices the way an administrator
// would with `lpadmin -o`: other than the PPD's defaults, and for a driver
// upgrade the ones that the new PPD names differently or does not offer.
#include "sandbox/ppd_choices.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace {

std::string keywordAt(const std::string& line, std::size_t start) {
  return line.substr(start, line.find_first_of("/: \t\r", start) - start);
}

CustomParam paramOf(const std::string& line) {
  std::istringstream words(line.substr(line.find(':') + 1));
  CustomParam param;
  int order = 0;
  words >> order >> param.type >> param.min >> param.max;
  return param;
}

double clamped(double value, const CustomParam& range) { return std::clamp(value, range.min, range.max); }

// A value that the custom parameter accepts, or "" for a kind not tried.
std::string customValueFor(const CustomParam& param) {
  char text[64];
  const auto length = [&](double wanted) { return static_cast<std::size_t>(clamped(wanted, param)); };
  if (param.type == "passcode" || param.type == "password") return std::string("1234567890").substr(0, length(4));
  if (param.type == "string") return std::string("acc42xyzuvw").substr(0, length(5));
  if (param.type == "int") return std::to_string(static_cast<long>(clamped(42, param)));
  if (param.type != "real" && param.type != "points" && param.type != "curve" && param.type != "invcurve") return "";
  std::snprintf(text, sizeof text, "%g", clamped(42, param));
  return text;
}

std::string otherChoice(const PpdOption& option) {
  for (const std::string& choice : option.choices) {
    if (choice != option.defaultChoice && !choice.empty()) return choice;
  }
  return "";
}

const PpdOption* optionOf(const PpdFacts& facts, const std::string& keyword) {
  const auto found = std::find_if(facts.options.begin(), facts.options.end(),
                                  [&](const PpdOption& o) { return o.keyword == keyword; });
  return found == facts.options.end() ? nullptr : &*found;
}

bool offers(const PpdFacts& facts, const std::string& keyword, const std::string& choice) {
  const PpdOption* option = optionOf(facts, keyword);
  return option != nullptr && std::find(option->choices.begin(), option->choices.end(), choice) != option->choices.end();
}

// An old page size that the new PPD names differently; empty when none is.
std::string renamedPageSize(const PpdOption& sizes, const PpdFacts& old, const PpdFacts& fresh) {
  for (const std::string& size : sizes.choices) {
    if (offers(fresh, "PageSize", size)) continue;
    for (const auto& [other, dimensions] : fresh.dimensions) {
      if (sameSize(old, size, fresh, other) && offers(fresh, "PageSize", other)) return size;
    }
  }
  return {};
}

// Options never chosen: the page region follows the page size; libcups
// unmarks the input slot when manual feed is marked, so choosing both would
// keep neither.
std::set<std::string> chosenByNone() { return {"PageRegion", "ManualFeed"}; }

// Adds a setting for an option not yet taken, when there is a value.
auto chooser(std::vector<CorpusSetting>& settings, std::set<std::string>& taken) {
  return [&settings, &taken](const std::string& option, const std::string& value) {
    if (value.empty() || taken.contains(option)) return;
    settings.push_back({option, value});
    taken.insert(option);
  };
}

// The sides of a constraint line: "*Option Choice" words after the keyword.
PpdConstraintFacts constraintOf(const std::string& value) {
  PpdConstraintFacts constraint;
  std::istringstream words(value);
  for (std::string word; words >> word;) {
    if (!word.empty() && word.back() == '"') word.pop_back();
    if (!word.empty() && word.front() == '"') word.erase(0, 1);
    if (word.size() > 1 && word[0] == '*') {
      constraint.sides.push_back({word.substr(1), ""});
    } else if (!constraint.sides.empty() && !word.empty()) {
      constraint.sides.back().second = word;
    }
  }
  for (auto& [option, choice] : constraint.sides) {
    if (option.starts_with("Custom") && option.size() > 6 && choice == "True") option.erase(0, 6), choice = "Custom";
  }
  return constraint;
}

bool allows(const PpdFacts& facts, const std::pair<std::string, std::string>& side) {
  return side.second == "Custom" ? side.first == "PageSize" && facts.customPageSize
                                 : offers(facts, side.first, side.second);
}

// Whether one of the PPD's constraints forbids exactly these two sides.
bool forbids(const PpdFacts& facts, const PpdConstraintFacts& pair) {
  return std::any_of(facts.constraints.begin(), facts.constraints.end(), [&](const PpdConstraintFacts& c) {
    return c.sides.size() == 2 && ((c.sides[0] == pair.sides[0] && c.sides[1] == pair.sides[1]) ||
                                   (c.sides[0] == pair.sides[1] && c.sides[1] == pair.sides[0]));
  });
}

// A pair with the custom page size that fresh forbids and old allows, of
// at least the rank given: 2 beside a duplex mode, 1 beside anything else.
const PpdConstraintFacts* newlyForbidden(const PpdFacts& old, const PpdFacts& fresh, int lowestRank) {
  const PpdConstraintFacts* best = nullptr;
  int bestRank = lowestRank - 1;
  for (const PpdConstraintFacts& c : fresh.constraints) {
    if (c.sides.size() != 2 || c.sides[0].second.empty() || c.sides[1].second.empty() ||
        c.sides[0].first == c.sides[1].first || chosenByNone().contains(c.sides[0].first) ||
        chosenByNone().contains(c.sides[1].first) || !allows(old, c.sides[0]) || !allows(old, c.sides[1]) ||
        forbids(old, c)) {
      continue;
    }
    const bool custom = c.sides[0].second == "Custom" || c.sides[1].second == "Custom";
    const bool duplex = c.sides[0].first == "Duplex" || c.sides[1].first == "Duplex";
    const int rank = custom ? (duplex ? 2 : 1) : 0;
    if (rank > bestRank) best = &c, bestRank = rank;
  }
  return best;
}

// A custom size the old PPD's limits allow.
std::string customSizeFor(const PpdFacts& facts) {
  char size[64];
  std::snprintf(size, sizeof size, "Custom.%gx%g", clamped(300, facts.width), clamped(400, facts.height));
  return size;
}

}  // namespace

// The PPD's blocks and declarations, line by line.
PpdFacts factsOf(const std::string& ppd) {
  PpdFacts facts;
  PpdOption* current = nullptr;
  std::istringstream lines(ppd);
  for (std::string line; std::getline(lines, line);) {
    const bool jcl = line.starts_with("*JCLOpenUI *");
    if (line.starts_with("*OpenUI *") || jcl) {
      const std::string type = line.substr(line.rfind(':') + 1);
      current = nullptr;
      if (type.find("PickOne") == std::string::npos && type.find("Boolean") == std::string::npos) continue;
      facts.options.push_back({keywordAt(line, jcl ? 12 : 9), jcl, {}, {}});
      current = &facts.options.back();
    } else if (line.starts_with("*CloseUI") || line.starts_with("*JCLCloseUI")) {
      current = nullptr;
    } else if (line.starts_with("*UIConstraints:") || line.starts_with("*NonUIConstraints:")) {
      facts.constraints.push_back(constraintOf(line.substr(line.find(':') + 1)));
    } else if (line.starts_with("*cupsUIConstraints") && line.find(':') != std::string::npos) {
      facts.constraints.push_back(constraintOf(line.substr(line.find(':') + 1)));
    } else if (line.starts_with("*CustomPageSize True")) {
      facts.customPageSize = true;
    } else if (line.starts_with("*ParamCustomPageSize Width:")) {
      facts.width = paramOf(line);
    } else if (line.starts_with("*ParamCustomPageSize Height:")) {
      facts.height = paramOf(line);
    } else if (line.starts_with("*PaperDimension ") && line.find('"') != std::string::npos) {
      std::istringstream points(line.substr(line.find('"') + 1));
      auto& size = facts.dimensions[keywordAt(line, 16)];
      points >> size.first >> size.second;
    } else if (line.starts_with("*ParamCustom")) {
      facts.customParams[keywordAt(line, 12)].push_back(paramOf(line));
    } else if (line.starts_with("*Custom") && line.find(" True") == 7 + keywordAt(line, 7).size()) {
      facts.customOptions.insert(keywordAt(line, 7));
    } else if (current != nullptr && line.starts_with("*Default" + current->keyword + ":")) {
      std::istringstream value(line.substr(current->keyword.size() + 9));
      value >> current->defaultChoice;
    } else if (current != nullptr && line.starts_with("*" + current->keyword + " ")) {
      current->choices.push_back(keywordAt(line, current->keyword.size() + 2));
    }
  }
  return facts;
}

// Both sizes need a "*PaperDimension" line.
bool sameSize(const PpdFacts& a, const std::string& size, const PpdFacts& b, const std::string& other) {
  const auto first = a.dimensions.find(size), second = b.dimensions.find(other);
  return first != a.dimensions.end() && second != b.dimensions.end() &&
         std::fabs(first->second.first - second->second.first) <= 1 &&
         std::fabs(first->second.second - second->second.second) <= 1;
}

// A JCL option first: it is the one most often lost.
std::vector<CorpusSetting> choicesFor(const PpdFacts& facts) {
  std::vector<CorpusSetting> settings;
  std::set<std::string> taken = chosenByNone();
  const auto take = chooser(settings, taken);
  const auto jcl = std::find_if(facts.options.begin(), facts.options.end(),
                                [](const PpdOption& o) { return o.jcl && !otherChoice(o).empty(); });
  if (jcl != facts.options.end()) take(jcl->keyword, otherChoice(*jcl));
  for (const PpdOption& option : facts.options) {
    if (option.keyword != "PageSize") continue;
    take("PageSize", facts.customPageSize ? customSizeFor(facts) : otherChoice(option));
  }
  for (const PpdOption& option : facts.options) {
    const auto params = facts.customParams.find(option.keyword);
    if (!facts.customOptions.contains(option.keyword) || params == facts.customParams.end() ||
        params->second.size() != 1 || customValueFor(params->second[0]).empty())
      continue;
    take(option.keyword, "Custom." + customValueFor(params->second[0]));
    break;
  }
  for (const PpdOption& option : facts.options) {
    if (settings.size() >= 5) break;
    if (!option.jcl) take(option.keyword, otherChoice(option));
  }
  return settings;
}

// The page size and duplex first: they are the ones a driver upgrade tests.
// A custom size beside a choice that the new PPD forbids with it tests the
// conflicts that a custom size brings.
std::vector<CorpusSetting> generationChoicesFor(const PpdFacts& old, const PpdFacts& fresh) {
  std::vector<CorpusSetting> settings;
  std::set<std::string> taken = chosenByNone();
  const auto take = chooser(settings, taken);
  const PpdOption* sizes = optionOf(old, "PageSize");
  const std::string renamed = sizes == nullptr ? "" : renamedPageSize(*sizes, old, fresh);
  // A custom size beside a duplex mode that the new PPD forbids with it, else
  // a renamed size, else a custom size beside any choice forbidden with it.
  const PpdConstraintFacts* pair = newlyForbidden(old, fresh, renamed.empty() ? 1 : 2);
  for (const auto& [option, choice] : pair != nullptr ? pair->sides : decltype(pair->sides)()) {
    take(option, choice == "Custom" ? customSizeFor(old) : choice);
  }
  if (sizes != nullptr) take("PageSize", renamed.empty() ? otherChoice(*sizes) : renamed);
  if (const PpdOption* duplex = optionOf(old, "Duplex")) {
    take("Duplex", offers(old, "Duplex", "DuplexTumble") ? "DuplexTumble" : otherChoice(*duplex));
  }
  for (const PpdOption& option : old.options) {
    const auto refused = std::find_if(option.choices.begin(), option.choices.end(), [&](const std::string& c) {
      return c != option.defaultChoice && !offers(fresh, option.keyword, c);
    });
    if (option.jcl || taken.contains(option.keyword) || refused == option.choices.end()) continue;
    take(option.keyword, *refused);
    break;
  }
  for (const PpdOption& option : old.options) {
    if (settings.size() >= 4) break;
    if (!option.jcl) take(option.keyword, otherChoice(option));
  }
  return settings;
}

