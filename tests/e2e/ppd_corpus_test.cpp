// Real-world PPDs against the real scheduler: every setting that CUPS's own
// merge keeps on a twin queue, setup keeps; setup's PPD is no worse under
// cupstestppd; jobs still arrive.
#include <iostream>
#include <set>

#include "sandbox/ppd_corpus.h"

namespace {

TEST(PpdCorpus, SetupKeepsWhatCupsKeepsAndMakesNoPpdWorse) {
  REQUIRE_REAL_CUPS();
  if (const std::string why = corpusUnavailableReason(); !why.empty()) {
    if (SandboxHost::onCi()) FAIL() << why;
    GTEST_SKIP() << why;
  }
  const CorpusRun run = compareWithCups(corpusUris());
  std::set<std::string> makers;
  int jcl = 0, customSizes = 0, customValues = 0;
  for (const CorpusPPD& ppd : run.ppds) {
    const std::size_t maker = ppd.uri.find("openprinting/") + 13;
    makers.insert(ppd.uri.substr(maker, ppd.uri.find('/', maker) - maker));
    for (const CorpusSetting& s : ppd.settings) {
      jcl += s.option.starts_with("JCL");
      customSizes += s.option == "PageSize" && s.value.starts_with("Custom.");
      customValues += s.option != "PageSize" && s.value.starts_with("Custom.");
    }
  }
  EXPECT_GE(run.ppds.size(), 40u);
  EXPECT_GE(makers.size(), 15u);
  EXPECT_TRUE(jcl >= 10 && customSizes >= 10 && customValues >= 10) << jcl << " " << customSizes << " " << customValues;
  for (const std::string& shortfall : run.shortfalls()) ADD_FAILURE() << shortfall;
  EXPECT_EQ(run.keptBySetup(), run.chosen()) << run.summary();
  std::cout << run.summary() << "\n";
}

}  // namespace
