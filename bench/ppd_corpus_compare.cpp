// How many of an administrator's settings survive the upgrade on real-world
// PPDs (sandbox/ppd_corpus.list, from Debian's openprinting-ppds) and on
// real driver upgrades (sandbox/ppd_generations.list, old PPDs from
// foomatic-db-compressed-ppds), with setup and with CUPS's own `lpadmin -m`
// on a twin queue, and whether setup made any PPD worse under cupstestppd.
// Prints each of setup's shortfalls (with -v every setting and what each
// upgrade did with it), then the summary line of each comparison. Needs
// root (sandbox host).
//
//   ppd_corpus_compare [-v]
#include <cstdio>
#include <cstring>
#include <exception>

#include "sandbox/ppd_corpus.h"

// Each setting when verbose, then each of setup's shortfalls.
static void report(const CorpusRun& run, bool verbose) {
  for (const CorpusPPD& ppd : run.ppds) {
    for (const CorpusSetting& s : verbose ? ppd.settings : std::vector<CorpusSetting>{}) {
      std::printf("%s: %s=%s setup %s, lpadmin -m %s\n", ppd.uri.c_str(), s.option.c_str(), s.value.c_str(),
                  s.keptBySetup ? "kept" : "lost", s.keptByCups ? "kept" : "lost");
    }
  }
  for (const std::string& line : run.shortfalls()) std::printf("%s\n", line.c_str());
}

int main(int argc, char** argv) {
  const bool verbose = argc > 1 && std::strcmp(argv[1], "-v") == 0;
  const std::string why = SandboxHost::unavailableReason() + corpusUnavailableReason();
  if (!why.empty()) {
    std::fprintf(stderr, "ppd_corpus_compare: %s\n", why.c_str());
    return 1;
  }
  try {
    const CorpusRun run = compareWithCups(corpusUris());
    report(run, verbose);
    const CorpusRun generations = compareGenerationsWithCups(generationPairs());
    report(generations, verbose);
    std::printf("%s\n%s\n", run.summary().c_str(), generations.generationSummary().c_str());
    return run.error.empty() && generations.error.empty() ? 0 : 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "ppd_corpus_compare: %s\n", error.what());
    return 1;
  }
}
