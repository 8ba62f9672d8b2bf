// The sample product's generated PPDs: valid for cupstestppd, recognised as
// product PPDs of their model, and an older generation that differs as the
// update expects (other defaults, one option fewer).
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "printers/model_table.h"
#include "printers/printer_list.h"

namespace {

const std::string kCurrentDir = std::string(VELA_PRODUCT_DIR) + "/ppd";
const std::string kPreviousDir = VELA_OLD_PPD_DIR;

std::vector<std::string> namesIn(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* e = readdir(d)) {
      if (e->d_name[0] != '.') names.emplace_back(e->d_name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string readText(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The PDL kind that a file name ends in ("-PS.ppd", "-PCL.ppd.gz", ...).
unsigned kindOfName(const std::string& name) {
  if (name.find("-PCL.ppd") != std::string::npos) return kPdlPcl;
  if (name.find("-PXL.ppd") != std::string::npos) return kPdlPxl;
  if (name.find("-PS.ppd") != std::string::npos) return kPdlPostScript;
  return kPdlNone;
}

}  // namespace

// Every PPD names a supported model whose kind matches its file name, and the
// new PPD of each old one is found by the queue search.
TEST(ProductPPDs, ModelLinesAreRecognised) {
  const auto names = namesIn(kPreviousDir);
  EXPECT_EQ(names.size(), modelTable().size());
  EXPECT_EQ(namesIn(kCurrentDir).size(), modelTable().size());
  for (const std::string& name : names) {
    unsigned oldKind = kPdlNone;
    int oldId = 0;
    const auto oldText = getPPDModel(kPreviousDir + "/" + name, oldKind, oldId);
    ASSERT_TRUE(oldText) << name;
    EXPECT_EQ(oldKind, kindOfName(name)) << name;

    PrinterEntry queue;
    queue.modelText = *oldText;
    queue.modelId = oldId;
    queue.pdlKind = oldKind;
    std::string found;
    EXPECT_EQ(findPPDInDir(kCurrentDir, queue, found), 1) << name;
    EXPECT_EQ(found, kCurrentDir + "/" + name + ".gz");
  }
}

TEST(ProductPPDs, PreviousGenerationDiffers) {
  const std::string name = "Marlo_Tessel_2100dn-PCL.ppd";
  const std::string old = readText(kPreviousDir + "/" + name);
  const std::string head = old.substr(0, old.find("*OpenGroup"));
  EXPECT_NE(head.find("\n*% Vela version: 1\n"), std::string::npos);
  EXPECT_NE(old.find("*DefaultPageSize: Letter\n"), std::string::npos);
  EXPECT_EQ(old.find("*OpenUI *OutputBin"), std::string::npos);
  EXPECT_NE(old.find("*DefaultColorSep: "), std::string::npos);
  EXPECT_NE(old.find("*JCLOpenUI *JCLEconomode"), std::string::npos);
}

// A sample of both generations passes cupstestppd (run on the build tree only).
TEST(ProductPPDs, CupstestppdAcceptsThem) {
  if (access("/usr/bin/cupstestppd", X_OK) != 0) GTEST_SKIP() << "no cupstestppd";
  std::string command = "/usr/bin/cupstestppd -W all";
  const auto names = namesIn(kPreviousDir);
  for (std::size_t i = 0; i < names.size(); i += 23) {
    command += " '" + kCurrentDir + "/" + names[i] + ".gz' '" + kPreviousDir + "/" + names[i] + "'";
  }
  std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
  EXPECT_EQ(pclose(pipe), 0) << output;
  EXPECT_EQ(output.find("FAIL"), std::string::npos) << output;
  EXPECT_EQ(output.find("WARN"), std::string::npos) << output;
}
