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

// An old page size that the new PPD names differently, else any other one.
std::string pageSizeToChoose(const PpdOption& sizes, const PpdFacts& old, const PpdFacts& fresh) {
  for (const std::string& size : sizes.choices) {
    if (offers(fresh, "PageSize", size)) continue;
    for (const auto& [other, dimensions] : fresh.dimensions) {
      if (sameSize(old, size, fresh, other) && offers(fresh, "PageSize", other)) return size;
    }
  }
  return otherChoice(sizes);
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
    char size[64];
    std::snprintf(size, sizeof size, "Custom.%gx%g", clamped(300, facts.width), clamped(400, facts.height));
    take("PageSize", facts.customPageSize ? std::string(size) : otherChoice(option));
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
std::vector<CorpusSetting> generationChoicesFor(const PpdFacts& old, const PpdFacts& fresh) {
  std::vector<CorpusSetting> settings;
  std::set<std::string> taken = chosenByNone();
  const auto take = chooser(settings, taken);
  if (const PpdOption* sizes = optionOf(old, "PageSize")) take("PageSize", pageSizeToChoose(*sizes, old, fresh));
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

