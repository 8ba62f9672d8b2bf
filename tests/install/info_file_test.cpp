// Reading the USRDIR value of an information file, and converting the older
// generation's file.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "driver/settings.h"
#include "install/info_file.h"

namespace {

struct UsrdirCase {
  std::string content;
  int found;
  std::string value;
};

class UsrdirValue : public testing::TestWithParam<UsrdirCase> {};

TEST_P(UsrdirValue, ComesFromTheFirstUsrdirLine) {
  const std::string path = (std::filesystem::current_path() / "usrdir-case.info").string();
  std::ofstream(path, std::ios::binary) << GetParam().content;
  setenv("VELAINFO", path.c_str(), 1);
  std::string usrdir;
  int kind = 0;
  EXPECT_EQ(findInfoFile(usrdir, kind), GetParam().found);
  EXPECT_EQ(kind, GetParam().found ? 1 : -1);  // a named file counts as the older kind
  EXPECT_EQ(usrdir, GetParam().value);
  unsetenv("VELAINFO");
  std::filesystem::remove(path);
}

INSTANTIATE_TEST_SUITE_P(Lines, UsrdirValue,
                         testing::Values(UsrdirCase{"#\nUSRDIR          /opt/tam\n", 1, "/opt/tam"},
                                         UsrdirCase{"# USRDIR /first here\nUSRDIR /second\n", 1, "/first"},
                                         UsrdirCase{"USRDIR  \x01\xff/a\tb\r\n", 1, "/a\tb\r"},
                                         UsrdirCase{"USRDIR\n", 1, ""}, UsrdirCase{"USRDIR", 1, ""},
                                         UsrdirCase{"TMPDIR /tmp\n", 0, ""}));

TEST(UpgradeInfoFile, ReplacesOnlyTheFirstInformationFileLine) {
  const std::filesystem::path dir = std::filesystem::current_path() / "upgrade-info-test";
  std::filesystem::create_directories(dir);
  settings().installDir = dir.string();
  std::ofstream(dir / "velaInfo2.0") << "#\nUSRDIR /x\n# Information File moved\n# Information File again\n";
  upgradeInfoFile();
  std::stringstream converted;
  converted << std::ifstream(dir / "velaInfo4.0").rdbuf();
  EXPECT_EQ(converted.str(), "#\nUSRDIR /x\n# Vela 3.0 Information File\n# Information File again\n");
  std::filesystem::remove_all(dir);
}

}  // namespace
