// Real-world PPDs against the real scheduler. The corpus: every setting that
// CUPS's own merge keeps on a twin queue, setup keeps; setup's PPD is no
// worse under cupstestppd; jobs still arrive. Real driver upgrades (a
// model's old PPD of foomatic-db-compressed-ppds, its new one of
// openprinting-ppds): setup keeps what CUPS's `lpadmin -m` keeps and renamed
// page sizes besides, names every setting it does not keep, and leaves no
// conflicting defaults, custom page sizes that the new PPD forbids beside a
// duplex mode or input slot included. A sanitizer build runs the samples.
#include <iostream>
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

// What a run must hold to have driven every merge path: the whole list, or
// its sample.
struct Coverage {
  std::size_t ppds, makers;
  int first, second, third;  // settings of the kinds each test counts
};

std::size_t makersOf(const CorpusRun& run) {
  std::set<std::string> makers;
  for (const CorpusPPD& ppd : run.ppds) {
    const std::size_t maker = ppd.uri.find("openprinting/") + 13;
    makers.insert(ppd.uri.substr(maker, ppd.uri.find('/', maker) - maker));
  }
  return makers.size();
}

TEST(PpdCorpus, SetupKeepsWhatCupsKeepsAndMakesNoPpdWorse) {
  REQUIRE_CORPUS();
  const Coverage need = corpusSampled() ? Coverage{9, 8, 3, 3, 3} : Coverage{40, 15, 10, 10, 10};
  const CorpusRun run = compareWithCups(corpusUris());
  int jcl = 0, customSizes = 0, customValues = 0;
  for (const CorpusPPD& ppd : run.ppds) {
    for (const CorpusSetting& s : ppd.settings) {
      jcl += s.option.starts_with("JCL");
      customSizes += s.option == "PageSize" && s.value.starts_with("Custom.");
      customValues += s.option != "PageSize" && s.value.starts_with("Custom.");
    }
  }
  EXPECT_GE(run.ppds.size(), need.ppds);
  EXPECT_GE(makersOf(run), need.makers);
  EXPECT_TRUE(jcl >= need.first && customSizes >= need.second && customValues >= need.third)
      << jcl << " " << customSizes << " " << customValues;
  for (const std::string& shortfall : run.shortfalls()) ADD_FAILURE() << shortfall;
  EXPECT_EQ(run.keptBySetup(), run.chosen()) << run.summary();
  std::cout << run.summary() << "\n";
}

TEST(PpdGenerations, SetupKeepsMoreThanCupsNamesTheRestAndLeavesNoConflicts) {
  REQUIRE_CORPUS();
  const Coverage need = corpusSampled() ? Coverage{9, 5, 8, 8, 8} : Coverage{40, 8, 40, 40, 40};
  const CorpusRun run = compareGenerationsWithCups(generationPairs());
  int pageSizes = 0, duplex = 0, refused = 0, customSizes = 0;
  for (const CorpusPPD& ppd : run.ppds) {
    EXPECT_TRUE(ppd.settings.size() >= 3 && ppd.settings.size() <= 5) << ppd.uri;
    for (const CorpusSetting& s : ppd.settings) {
      pageSizes += s.option == "PageSize";
      customSizes += s.option == "PageSize" && s.value.starts_with("Custom.");
      duplex += s.option == "Duplex";
      refused += !s.keptBySetup && !s.keptByCups && !s.yielded;
    }
  }
  EXPECT_GE(run.ppds.size(), need.ppds);
  EXPECT_GE(makersOf(run), need.makers);
  EXPECT_TRUE(pageSizes >= need.first && duplex >= need.second && refused >= need.third)
      << pageSizes << " " << duplex << " " << refused;
  // Custom sizes beside a choice that the new PPD forbids with "*CustomPageSize True".
  EXPECT_GE(customSizes, corpusSampled() ? 3 : 8);
  for (const std::string& shortfall : run.shortfalls()) ADD_FAILURE() << shortfall;
  EXPECT_GT(run.keptBySetup(), run.keptByCups()) << run.generationSummary();
  EXPECT_EQ(run.conflicting(true), 0) << run.generationSummary();
  EXPECT_GT(run.conflicting(false), 0) << run.generationSummary();
  EXPECT_EQ(run.notNamed(), 0) << run.generationSummary();
  std::cout << run.generationSummary() << "\n";
}

}  // namespace
