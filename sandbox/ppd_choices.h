// What an administrator would choose on a queue of a real PPD: the PPD's
// option blocks, custom page size, custom options and page dimensions as
// the corpus harness reads them, and three to five choices among them.
#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "sandbox/ppd_corpus.h"

// An option block of a PPD as the harness reads it.
struct PpdOption {
  std::string keyword;
  bool jcl = false;
  std::string defaultChoice;
  std::vector<std::string> choices;
};

// A custom option's only parameter: "*ParamCustomK Name: 1 type min max".
struct CustomParam {
  std::string type;
  double min = 0, max = 0;
};

// One constraint of a PPD ("*UIConstraints", "*NonUIConstraints" or
// "*cupsUIConstraints"): its sides as option and choice, "*CustomPageSize
// True" as PageSize and "Custom".
struct PpdConstraintFacts {
  std::vector<std::pair<std::string, std::string>> sides;
};

// What the harness knows of a PPD.
struct PpdFacts {
  std::vector<PpdOption> options;
  bool customPageSize = false;
  CustomParam width{"points", 0, 1e9}, height{"points", 0, 1e9};
  std::map<std::string, std::vector<CustomParam>> customParams;  // by option keyword, "*Custom<K> True" only
  std::set<std::string> customOptions;
  std::map<std::string, std::pair<double, double>> dimensions;  // by page size, from "*PaperDimension"
  std::vector<PpdConstraintFacts> constraints;
};

// Reads the option blocks, custom page size, custom options and page
// dimensions of a PPD.
PpdFacts factsOf(const std::string& ppd);

// Whether size of a and other of b have the same dimensions, within a point.
bool sameSize(const PpdFacts& a, const std::string& size, const PpdFacts& b, const std::string& other);

// Three to five choices an administrator would make on a queue of this PPD:
// a JCL option, a custom page size and a custom value wherever it has them,
// and ordinary options.
std::vector<CorpusSetting> choicesFor(const PpdFacts& facts);

// Three to five choices an administrator would make on a queue of the old
// PPD before its upgrade to fresh: a pair the new PPD forbids and the old
// one allows (one with the custom page size first),
// its page size and duplex, one choice the new PPD does not offer, and
// ordinary options.
std::vector<CorpusSetting> generationChoicesFor(const PpdFacts& old, const PpdFacts& fresh);
