// The manifest's line rules, and reading whole manifests with the limits of
// the table: long lines, NUL bytes, high bytes and too many entries.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "driver/settings.h"
#include "install/manifest.h"

namespace {

struct LineCase {
  std::string line;
  ManifestLineKind kind;
  std::string source;
  std::string destination;
  int mode;
};

class ManifestLineRules : public testing::TestWithParam<LineCase> {};

TEST_P(ManifestLineRules, ParsesLikeTheFileFormatSays) {
  const LineCase& c = GetParam();
  const ManifestLine parsed = parseManifestLine(c.line);
  EXPECT_EQ(parsed.kind, c.kind);
  if (c.kind != ManifestLineKind::kEntry) return;
  EXPECT_EQ(parsed.entry.source, c.source);
  EXPECT_EQ(parsed.entry.destination, c.destination);
  EXPECT_EQ(parsed.entry.mode, c.mode);
}

using K = ManifestLineKind;
INSTANTIATE_TEST_SUITE_P(
    Lines, ManifestLineRules,
    testing::Values(LineCase{"", K::kEnd, "", "", 0},  // a read that returned nothing (NUL first)
                    LineCase{"bin/setup . 00755 @@NULL\n", K::kEnd, "", "", 0},
                    LineCase{"# end @@NULL\n", K::kEnd, "", "", 0},
                    LineCase{"# bin/setup . 00755\n", K::kSkip, "", "", 0},
                    LineCase{"\n", K::kSkip, "", "", 0}, LineCase{" \r\n", K::kSkip, "", "", 0},
                    LineCase{" bin/setup . 00755\n", K::kSkip, "", "", 0},
                    LineCase{"\tbin/setup . 00755\n", K::kSkip, "", "", 0},
                    LineCase{"\x80setup . 00755\n", K::kSkip, "", "", 0},
                    LineCase{"bin/setup . 00755\n", K::kEntry, "bin/setup", ".", 0755},
                    LineCase{"bin/setup . 00755\r\n", K::kEntry, "bin/setup", ".", 0755},
                    LineCase{"bin/setup\t./bin\t00700 trailing words\n", K::kEntry, "bin/setup", "./bin", 0700},
                    LineCase{"etc/a . 0755\n", K::kEntry, "etc/a", ".", 0},
                    LineCase{"etc/a . 000\n", K::kEntry, "etc/a", ".", 0755},
                    LineCase{"etc/a . 00abc\n", K::kEntry, "etc/a", ".", 0755},
                    LineCase{"etc/a . x100644\n", K::kEntry, "etc/a", ".", 0644},
                    LineCase{"etc/a . 0077777777777777\n", K::kEntry, "etc/a", ".", 0755},
                    LineCase{"etc/a . words 00644 00755\n", K::kEntry, "etc/a", ".", 0644},
                    LineCase{"etc/a\n", K::kEntry, "etc/a", "", 0},
                    LineCase{"etc/a   \n", K::kEntry, "etc/a", "", 0},
                    LineCase{"et\xc3\xa9/a ? 00644\n", K::kEntry, "et", "/a", 0644},
                    LineCase{"ppd/*.ppd.gz ? 00644\n", K::kEntry, "ppd/*.ppd.gz", "?", 0644},
                    LineCase{"a\x7f b\x01\x02 00644\n", K::kEntry, "a\x7f", "b", 0644}));

// Writes files under a fresh directory of the build tree and points the
// source directory at it.
class ManifestFile : public testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (std::filesystem::current_path() / "manifest-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    dir_ = templ;
    settings().sourceDir = dir_;
    settings().manifestName = "VELAINST.CONF";
    settings().debugLevel = 0;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  void write(const std::string& relative, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(dir_ + "/" + relative).parent_path());
    std::ofstream(dir_ + "/" + relative, std::ios::binary) << content;
  }
  std::string dir_;
};

TEST_F(ManifestFile, PrefersEtcAndFallsBackToTheSourceDirectory) {
  write("VELAINST.CONF", "top . 00755\n");
  EXPECT_EQ(getInfoData(), 1);
  EXPECT_EQ(manifestTable()[0].source, "top");
  write("etc/VELAINST.CONF", "bin/setup .\netc/vela.pp ./etc 00644\n");
  EXPECT_EQ(getInfoData(), 2);
  EXPECT_EQ(manifestTable()[1].destination, "./etc");
  EXPECT_EQ(manifestTable()[2].source, "");  // cleared before each read
}

TEST_F(ManifestFile, LongLinesAreLeftOutWhole) {
  const std::string longComment = "# " + std::string(290, 'c') + " tail/file /etc 00777\n";
  const std::string longEntry = "bin/setup " + std::string(280, 'd') + " 00755\n";
  write("etc/VELAINST.CONF", longComment + longEntry + "bin/ok . 00755\n");
  EXPECT_EQ(getInfoData(), 1);
  EXPECT_EQ(manifestTable()[0].source, "bin/ok");
}

TEST_F(ManifestFile, LineOfExactlyOneReadIsKept) {
  const std::string name = "bin/x";
  const std::string line = name + " ./" + std::string(255 - name.size() - 4, 'd') + "\n";
  ASSERT_EQ(line.size(), 255u);
  write("etc/VELAINST.CONF", line + "bin/ok . 00755\n");
  EXPECT_EQ(getInfoData(), 2);
}

TEST_F(ManifestFile, OverlongSourceIsSkipped) {
  write("etc/VELAINST.CONF", std::string(48, 's') + " . 00755\n" + std::string(47, 's') + " . 00755\n");
  EXPECT_EQ(getInfoData(), 1);
  EXPECT_EQ(manifestTable()[0].source.size(), 47u);
}

TEST_F(ManifestFile, NulBytesEndOrCutALine) {
  write("etc/VELAINST.CONF", std::string("bin/a\0 ./x 00755\nbin/b . 00755\n\0bin/c . 00755\nbin/d .\n", 52));
  EXPECT_EQ(getInfoData(), 2);
  EXPECT_EQ(manifestTable()[0].source, "bin/a");
  EXPECT_EQ(manifestTable()[0].destination, "");
  EXPECT_EQ(manifestTable()[1].source, "bin/b");
}

TEST_F(ManifestFile, TableHoldsAtMost256Entries) {
  std::string content;
  for (int i = 0; i < 300; ++i) content += "bin/file" + std::to_string(i) + " . 00644\n";
  write("etc/VELAINST.CONF", content);
  EXPECT_EQ(getInfoData(), 256);
  EXPECT_EQ(manifestTable()[255].source, "bin/file255");
}

TEST_F(ManifestFile, DebugEchoShowsEntriesWithMode) {
  write("etc/VELAINST.CONF", "bin/a ./bin 00700\nbin/b ./bin\n");
  settings().debugLevel = 1;
  testing::internal::CaptureStderr();
  EXPECT_EQ(getInfoData(), 2);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("getInfoData: bin/a ===> ./bin, o700.\n"), std::string::npos) << err;
  EXPECT_EQ(err.find("bin/b ===>"), std::string::npos) << err;
}

}  // namespace
