// The manifest's line rules; whole manifests are read in the installation runs.
#include <gtest/gtest.h>

#include "install/manifest.h"

namespace {

using K = ManifestLineKind;
struct LineCase {
  std::string line;
  K kind;
  std::string source, destination;
  int mode = 0;
};

class ManifestLineRules : public testing::TestWithParam<LineCase> {};

TEST_P(ManifestLineRules, ParsesLikeTheFileFormatSays) {
  const LineCase& c = GetParam();
  const ManifestLine parsed = parseManifestLine(c.line);
  EXPECT_EQ(parsed.kind, c.kind);
  EXPECT_EQ(parsed.entry.source + "|" + parsed.entry.destination, c.source + "|" + c.destination);
  EXPECT_EQ(parsed.entry.mode, c.mode);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ManifestLineRules,
    testing::Values(LineCase{"", K::kEnd},  // a read that returned nothing (NUL first)
                    LineCase{"# end @@NULL\n", K::kEnd}, LineCase{"# bin/setup . 00755\n", K::kSkip},
                    LineCase{"\tbin/setup . 00755\n", K::kSkip}, LineCase{" \r\n", K::kSkip},
                    LineCase{"bin/setup . 00755\r\n", K::kEntry, "bin/setup", ".", 0755},
                    LineCase{"bin/setup\t./bin\t00700 trailing words\n", K::kEntry, "bin/setup", "./bin", 0700},
                    LineCase{"etc/a . 0755\n", K::kEntry, "etc/a", ".", 0}, LineCase{"etc/a\n", K::kEntry, "etc/a"},
                    LineCase{"etc/a . 000\n", K::kEntry, "etc/a", ".", 0755},
                    LineCase{"etc/a . 0077777777777777\n", K::kEntry, "etc/a", ".", 0755},
                    LineCase{"etc/a . words 00644 00755\n", K::kEntry, "etc/a", ".", 0644},
                    LineCase{"et\xc3\xa9/a ? 00644\n", K::kEntry, "et", "/a", 0644},
                    LineCase{"a\x7f b\x01\x02 00644\n", K::kEntry, "a\x7f", "b", 0644}));

}  // namespace
