// Real driver upgrades against the real scheduler: queues of a model's old
// PPD (foomatic-db-compressed-ppds) get its new PPD (openprinting-ppds) from
// setup and, on a twin queue, from CUPS's own `lpadmin -m`. Setup keeps
// what CUPS keeps and renamed page sizes besides, names every setting it
// does not keep, and leaves no conflicting defaults, custom page sizes that
// the new PPD forbids beside a duplex mode or input slot included.
#include <iostream>
#include <set>

#include "sandbox/ppd_corpus.h"

namespace {

TEST(PpdGenerations, SetupKeepsMoreThanCupsNamesTheRestAndLeavesNoConflicts) {
  REQUIRE_REAL_CUPS();
  if (const std::string why = corpusUnavailableReason(); !why.empty()) {
    if (SandboxHost::onCi()) FAIL() << why;
    GTEST_SKIP() << why;
  }
  const CorpusRun run = compareGenerationsWithCups(generationPairs());
  std::set<std::string> makers;
  int pageSizes = 0, duplex = 0, refused = 0, customSizes = 0;
  for (const CorpusPPD& ppd : run.ppds) {
    const std::size_t maker = ppd.uri.find("openprinting/") + 13;
    makers.insert(ppd.uri.substr(maker, ppd.uri.find('/', maker) - maker));
    EXPECT_TRUE(ppd.settings.size() >= 3 && ppd.settings.size() <= 5) << ppd.uri;
    for (const CorpusSetting& s : ppd.settings) {
      pageSizes += s.option == "PageSize";
      customSizes += s.option == "PageSize" && s.value.starts_with("Custom.");
      duplex += s.option == "Duplex";
      refused += !s.keptBySetup && !s.keptByCups && !s.yielded;
    }
  }
  EXPECT_GE(run.ppds.size(), 40u);
  EXPECT_GE(makers.size(), 8u);
  EXPECT_TRUE(pageSizes >= 40 && duplex >= 40 && refused >= 40) << pageSizes << " " << duplex << " " << refused;
  // Custom sizes beside a choice that the new PPD forbids with "*CustomPageSize True".
  EXPECT_GE(customSizes, 8);
  for (const std::string& shortfall : run.shortfalls()) ADD_FAILURE() << shortfall;
  EXPECT_GT(run.keptBySetup(), run.keptByCups()) << run.generationSummary();
  EXPECT_EQ(run.conflicting(true), 0) << run.generationSummary();
  EXPECT_GT(run.conflicting(false), 0) << run.generationSummary();
  EXPECT_EQ(run.notNamed(), 0) << run.generationSummary();
  std::cout << run.generationSummary() << "\n";
}

}  // namespace
