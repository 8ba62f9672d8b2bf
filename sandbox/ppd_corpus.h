// Real-world PPDs against the real scheduler: each PPD of a list from
// Debian's openprinting-ppds is dressed as one of the product's PPDs, two
// queues are made from it with the same administrator's choices, one is
// upgraded by setup and the other by CUPS's own merge (`lpadmin -m`), and
// what each kept is read back through the scheduler. The corpus test and
// the comparison command share it.
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
};

// One PPD of the corpus and what its upgrade gave.
struct CorpusPPD {
  std::string uri;
  std::vector<CorpusSetting> settings;
  std::vector<std::string> newFailures;  // cupstestppd failures neither the new nor the old PPD had
  bool printed = false;                  // a job reached the device of setup's queue
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
  // "setup kept X of Y chosen settings (CUPS lpadmin -m: Z); cupstestppd regressions: R"
  std::string summary() const;
  // One line per shortfall of setup's: a setting CUPS kept and setup lost, a
  // new cupstestppd failure, a job that did not arrive, a harness problem,
  // a preview that foretold another update.
  std::vector<std::string> shortfalls() const;
};

// The URIs of the corpus: sandbox/ppd_corpus.list.
std::vector<std::string> corpusUris();

// Empty when the machine can run the comparison, else why not.
std::string corpusUnavailableReason();

// Runs the whole comparison in a fresh sandbox host with the real scheduler.
CorpusRun compareWithCups(const std::vector<std::string>& uris);
