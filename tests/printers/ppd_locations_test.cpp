// PPD directory discovery on sandbox hosts laid out like the distributions:
// the location report, an earlier product PPD directory, the choice by CUPS
// version, the model-directory links, and hostile link tables.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "discovery/discovery_host.h"

namespace {

const char* const kFoomatic = "/usr/share/foomatic/db/source/PPD";

struct Layout {
  const char* name;
  const char* cupsVersion;  // what cups-config prints
  std::vector<std::string> dirs;
  std::vector<std::pair<std::string, std::string>> links;  // target, link path
  std::vector<std::string> logLines;
  std::vector<std::string> absentLines;
  std::vector<std::string> dirsAfter;
};

// A host with none of the known PPD trees, CUPS version from cups-config.
void bareHost(SandboxHost& host, const char* cupsVersion) {
  prepareDiscoveryHost(host);
  removeVersionSources(host);
  host.remove("/usr/bin/nc");
  for (const char* tree : {"/usr/share/ppd", "/usr/share/cups/model", "/etc/cups/model", "/opt/cups", "/usr/ppd",
                           "/opt/share", "/usr/local/share/ppd", "/usr/share/foomatic"}) {
    host.remove(tree);
  }
  host.installStub("/usr/bin/cups-config", 0, cupsVersion);
}

void checkLayout(const Layout& c) {
  SCOPED_TRACE(c.name);
  SandboxHost host;
  bareHost(host, c.cupsVersion);
  for (const std::string& dir : c.dirs) host.makeDirs(dir);
  for (const auto& [target, link] : c.links) host.makeSymlink(target, link);
  const RunResult run = runDiscovery(host);
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string log = host.log();
  for (const std::string& line : c.logLines) EXPECT_TRUE(hasLine(log, line)) << line << "\n" << log;
  for (const std::string& line : c.absentLines) EXPECT_EQ(log.find(line), std::string::npos) << line << "\n" << log;
  for (const std::string& dir : c.dirsAfter) EXPECT_TRUE(host.exists(dir)) << dir;
}

}  // namespace

TEST(PPDLocationsHost, ReportAndEarlierProductDirectory) {
  REQUIRE_SANDBOX();
  const std::string openprintingTam = "/usr/share/ppd/openprinting/tam";
  const Layout cases[] = {
      {"nothing known", "2.4.2", {}, {},
       {std::string(39, '='), "Sytem PPD locations:", "CUPS model directory: ???", "Foomatic directory  : ???",
        "Marlo directory     : ???", "Custom ppd directory: ???", "System ppd directory: ???"},
       {"Share ppd directory", "Found existing", "PPD installation dir:"}, {}},
      {"openprinting tree with the product", "2.4.2", {"/usr/share/cups/model", openprintingTam}, {},
       {"CUPS model directory: /usr/share/cups/model", "Share ppd directory : /usr/share/ppd",
        "System ppd directory: /usr/share/ppd", "Found existing Vela PPD dir: \"" + openprintingTam + "\".",
        "PPD installation dir: " + openprintingTam, "Using previous Vela PPD directory: \"" + openprintingTam + "\"."},
       {}, {}},
      {"openprinting tree and a maker directory without the product", "2.4.2",
       {"/usr/share/cups/model", openprintingTam, std::string(kFoomatic) + "/Marlo"}, {},
       {"Marlo directory     : " + std::string(kFoomatic) + "/Marlo",
        "Using previous Vela PPD directory: \"" + openprintingTam + "\"."},
       {"Found existing"}, {}},
      {"foomatic tree with the maker's product directory", "2.4.2",
       {"/usr/share/cups/model", std::string(kFoomatic) + "/Marlo/tam"}, {},
       {"Foomatic directory  : " + std::string(kFoomatic), "Marlo directory     : " + std::string(kFoomatic) + "/Marlo",
        "System ppd directory: " + std::string(kFoomatic),
        "Found existing Vela PPD dir: \"" + std::string(kFoomatic) + "/Marlo/tam\"."},
       {}, {}},
      {"foomatic tree without the maker's directory", "2.4.2", {"/usr/share/cups/model", kFoomatic}, {},
       {"Marlo directory     : ???", "PPD installation dir: /usr/share/cups/model/tam"},
       {"Found existing"}, {"/usr/share/cups/model/tam"}},
      {"custom directory with the product", "2.4.2", {"/usr/share/cups/model/custom/tam"}, {},
       {"Custom ppd directory: /usr/share/cups/model/custom",
        "Found existing Vela PPD dir: \"/usr/share/cups/model/custom/tam\"."},
       {}, {}},
  };
  for (const Layout& c : cases) checkLayout(c);
}

TEST(PPDLocationsHost, NewerCupsUsesTheSharedTree) {
  REQUIRE_SANDBOX();
  const Layout cases[] = {
      {"openprinting tree", "2.4.2", {"/usr/share/cups/model", "/usr/share/ppd/openprinting"}, {},
       {"PPD installation dir: /usr/share/ppd/openprinting/tam"}, {"Found existing"},
       {"/usr/share/ppd/openprinting/tam"}},
      {"distribution layout", "1.3.0", {"/usr/share/cups/model", "/usr/share/ppd/HP", "/usr/share/ppd/Epson"}, {},
       {"PPD installation dir: /usr/share/ppd/tam"}, {}, {"/usr/share/ppd/tam"}},
      {"plain /usr/share/ppd", "2.0", {"/usr/share/cups/model", "/usr/share/ppd"}, {},
       {"PPD installation dir: /usr/share/ppd/tam", "Created directory: '/usr/share/ppd/tam'."}, {},
       {"/usr/share/ppd/tam"}},
  };
  for (const Layout& c : cases) checkLayout(c);
}

TEST(PPDLocationsHost, OlderCupsFollowsModelLinks) {
  REQUIRE_SANDBOX();
  const std::string model = "/usr/share/cups/model";
  const Layout cases[] = {
      {"no links: a link to the shared tree is made", "1.2.7", {model, "/usr/share/ppd"}, {},
       {"No known links in cups model dir: " + model, "PPD installation dir: /usr/share/ppd/tam",
        "Link 1: " + model + "/tam linked to /usr/share/ppd/tam."},
       {"WRONG"}, {"/usr/share/ppd/tam", model + "/tam"}},
      {"no links and no shared tree", "1.1", {model}, {}, {"PPD installation dir: " + model + "/tam"}, {"Link 1"}, {}},
      {"absolute link into the foomatic tree", "1.2.7", {model, kFoomatic},
       {{kFoomatic, model + "/foomatic-db"}},
       {"Link 1: " + model + "/foomatic-db linked to " + std::string(kFoomatic) + ".",
        "PPD installation dir: " + std::string(kFoomatic) + "/tam"},
       {"No known links"}, {std::string(kFoomatic) + "/tam"}},
      {"relative link to the custom tree", "1.2.7", {model, "/usr/share/ppd-custom"},
       {{"../../ppd-custom", model + "/custom"}},
       {"Link 1: " + model + "/custom linked to ../../ppd-custom.", "PPD installation dir: " + model + "/custom/tam"},
       {}, {"/usr/share/ppd-custom/tam"}},
  };
  for (const Layout& c : cases) checkLayout(c);
}

TEST(PPDLocationsHost, HostileModelDirectory) {
  REQUIRE_SANDBOX();
  const std::string model = "/usr/share/cups/model";
  const std::string longTarget = "/usr/share/ppd/" + std::string(300, 'x');
  const Layout cases[] = {
      {"link target longer than 255", "1.2.7", {model, "/usr/share/ppd"}, {{longTarget, model + "/long"}},
       {"No known links in cups model dir: " + model, "PPD installation dir: /usr/share/ppd/tam"}, {"Link 1: " + model + "/long"},
       {}},
  };
  for (const Layout& c : cases) checkLayout(c);

  // The ten links themselves: eight are recorded, the ninth never.
  SandboxHost host;
  bareHost(host, "1.2.7");
  host.makeDirs(model + "/custom");
  for (int i = 0; i < 10; ++i) host.makeSymlink("/usr/share/ppd-" + std::to_string(i), model + "/custom" + std::to_string(i));
  EXPECT_EQ(runDiscovery(host).status, 0);
  const std::string log = host.log();
  EXPECT_TRUE(log.find("Link 8: ") != std::string::npos) << log;
  EXPECT_TRUE(log.find("Link 9: ") == std::string::npos) << log;
}
