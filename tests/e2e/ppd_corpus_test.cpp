// Real-world PPDs against the real scheduler. The corpus: setup keeps every setting that CUPS's own
// merge keeps on a twin queue, makes no PPD worse under cupstestppd, and jobs still arrive. Real driver
// upgrades (a model's old PPD of foomatic-db-compressed-ppds, its new one of openprinting-ppds): setup
// keeps what `lpadmin -m` keeps and renamed page sizes besides, names every setting it does not keep
// and leaves no conflicting defaults. A sanitizer build runs the samples.
#include <iostream>
#include <map>
#include <set>

#include "sandbox/ppd_corpus.h"

namespace {

#define REQUIRE_CORPUS()                                                      \
  do {                                                                        \
    REQUIRE_REAL_CUPS();                                                      \
    if (const std::string why_ = corpusUnavailableReason(); !why_.empty()) { \
      if (SandboxHost::onCi()) FAIL() << why_;                                \
      GTEST_SKIP() << why_;                                                   \
    }                                                                         \
  } while (0)

// Enough PPDs, makers and settings of each kind counted to drive every merge path, and no shortfall of setup's.
struct Coverage {
  std::size_t ppds, makers;
  int settings;
};

void expectCovered(const CorpusRun& run, const Coverage& need, const std::map<std::string, int>& kinds) {
  std::set<std::string> makers;
  for (const CorpusPPD& ppd : run.ppds) {
    const std::size_t maker = ppd.uri.find("openprinting/") + 13;
    makers.insert(ppd.uri.substr(maker, ppd.uri.find('/', maker) - maker));
  }
  EXPECT_GE(run.ppds.size(), need.ppds);
  EXPECT_GE(makers.size(), need.makers);
  for (const auto& [kind, count] : kinds) EXPECT_GE(count, need.settings) << kind;
  for (const std::string& shortfall : run.shortfalls()) ADD_FAILURE() << shortfall;
}

TEST(PpdCorpus, SetupKeepsWhatCupsKeepsAndMakesNoPpdWorse) {
  REQUIRE_CORPUS();
  const CorpusRun run = compareWithCups(corpusUris());
  std::map<std::string, int> kinds;
  for (const CorpusPPD& ppd : run.ppds)
    for (const CorpusSetting& s : ppd.settings) {
      kinds["JCL"] += s.option.starts_with("JCL");
      kinds["custom page size"] += s.option == "PageSize" && s.value.starts_with("Custom.");
      kinds["other custom value"] += s.option != "PageSize" && s.value.starts_with("Custom.");
    }
  expectCovered(run, corpusSampled() ? Coverage{9, 8, 3} : Coverage{40, 15, 10}, kinds);
  EXPECT_EQ(run.keptBySetup(), run.chosen()) << run.summary();
  std::cout << run.summary() << "\n";
}

TEST(PpdGenerations, SetupKeepsMoreThanCupsNamesTheRestAndLeavesNoConflicts) {
  REQUIRE_CORPUS();
  const CorpusRun run = compareGenerationsWithCups(generationPairs());
  std::map<std::string, int> kinds;
  int customSizes = 0;
  for (const CorpusPPD& ppd : run.ppds) {
    EXPECT_TRUE(ppd.settings.size() >= 3 && ppd.settings.size() <= 5) << ppd.uri;
    for (const CorpusSetting& s : ppd.settings) {
      kinds["PageSize"] += s.option == "PageSize";
      kinds["Duplex"] += s.option == "Duplex";
      kinds["refused"] += !s.keptBySetup && !s.keptByCups && !s.yielded;
      customSizes += s.option == "PageSize" && s.value.starts_with("Custom.");
    }
  }
  expectCovered(run, corpusSampled() ? Coverage{9, 5, 8} : Coverage{40, 8, 40}, kinds);
  // Custom sizes beside a duplex mode or input slot that the new PPD forbids with "*CustomPageSize True".
  EXPECT_GE(customSizes, corpusSampled() ? 3 : 8);
  EXPECT_GT(run.keptBySetup(), run.keptByCups()) << run.generationSummary();
  EXPECT_EQ(run.conflicting(true), 0) << run.generationSummary();
  EXPECT_GT(run.conflicting(false), 0) << run.generationSummary();
  EXPECT_EQ(run.notNamed(), 0) << run.generationSummary();
  std::cout << run.generationSummary() << "\n";
}

}  // namespace
