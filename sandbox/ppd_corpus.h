// Real-world PPDs against the real scheduler: each PPD of a list from
// Debian's openprinting-ppds is dressed as one of the product's PPDs, two
// queues are made from it with the same administrator's choices, one is
// upgraded by setup and the other by CUPS's own merge (`lpadmin -m`), and
// what each kept is read back through the scheduler. Real driver upgrades
// are compared the same way: the queues are made from a model's old PPD of
// one Debian package and upgraded to its new PPD of another. The corpus
// tests and the comparison command share it.
#pragma once

#include <string>
#include <vector>

#include "sandbox/real_cups.h"

// One administrator's choice on a queue, and whether each upgrade kept it.
struct CorpusSetting {
  std::string option;
  std::string value;
  bool keptBySetup = false;
  bool keptByCups = false;
  bool named = false;    // setup's log names it as not kept
  bool yielded = false;  // setup's log says it gave way to a constraint of the new PPD
};

// One PPD of the corpus and what its upgrade gave.
struct CorpusPPD {
  std::string uri;
  std::string oldUri;  // the queue's PPD before the upgrade when it is another one
  std::vector<CorpusSetting> settings;
  std::vector<std::string> newFailures;  // cupstestppd failures neither the new nor the old PPD had
  bool printed = false;                  // a job reached the device of setup's queue
  bool conflictsBySetup = false;         // "Default choices conflicting" that neither PPD had, setup's
  bool conflictsByCups = false;          // the same for lpadmin -m's
  std::string problem;                   // what went wrong in the harness itself
};

struct CorpusRun {
  std::vector<CorpusPPD> ppds;
  std::string error;  // the run could not be made
  std::string previewDifference;  // where the preview (-n) foretold another update than setup made
  int chosen() const;
  int keptBySetup() const;
  int keptByCups() const;
  int regressions() const;
  int notNamed() const;
  int conflicting(bool bySetup) const;
  // "setup kept X of Y chosen settings (CUPS lpadmin -m: Z); cupstestppd regressions: R"
  std::string summary() const;
  // "cross-generation: setup kept X of Y chosen settings on P real upgrade
  // pairs (CUPS lpadmin -m: Z); conflicting defaults: setup C (CUPS D); not
  // kept and not named: U"
  std::string generationSummary() const;
  // One line per shortfall of setup's: a setting CUPS kept and setup lost
  // (other than one that gave way to a constraint), a setting setup lost
  // without naming it, a new cupstestppd failure, a job that did not
  // arrive, a harness problem, a preview that foretold another update.
  std::vector<std::string> shortfalls() const;
};

// Whether the corpora are their samples (VELA_CORPUS_SAMPLE set): the few
// PPDs of sandbox/ppd_corpus_sample.list and ppd_generations_sample.list
// that drive every merge path, for a build too slow for the whole corpora.
bool corpusSampled();

// The URIs of the corpus: sandbox/ppd_corpus.list, VELA_CORPUS_LIST if set.
std::vector<std::string> corpusUris();

// The real upgrade pairs of sandbox/ppd_generations.list: old URI, new URI.
std::vector<std::pair<std::string, std::string>> generationPairs();

// Empty when the machine can run the comparison, else why not.
std::string corpusUnavailableReason();

// Runs the whole comparison in a fresh sandbox host with the real scheduler.
CorpusRun compareWithCups(const std::vector<std::string>& uris);
// The same for real upgrades: queues of each pair's old PPD get its new one.
CorpusRun compareGenerationsWithCups(const std::vector<std::pair<std::string, std::string>>& pairs);
