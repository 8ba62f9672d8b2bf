// PPD directory discovery on sandbox hosts laid out like the distributions: the location report, an
// earlier product PPD directory, the choice by CUPS version, model-directory links, hostile link tables.
#include "discovery/discovery_host.h"

TEST(PPDLocationsHost, ReportChoiceByCupsVersionAndModelLinks) {
  REQUIRE_SANDBOX();
  const std::string foomatic = "/usr/share/foomatic/db/source/PPD", model = "/usr/share/cups/model",
                    openprintingTam = "/usr/share/ppd/openprinting/tam", installDir = "PPD installation dir: ";
  std::vector<std::pair<std::string, std::string>> tenLinks;  // target, link path
  for (int i = 0; i < 10; ++i) tenLinks.emplace_back("/usr/share/ppd-x", model + "/custom" + std::to_string(i));
  // cupsVersion: what cups-config prints; dirs, links: the layout; lines: logged (an installation dir made); absent.
  const struct { const char *name, *cupsVersion; std::vector<std::string> dirs; decltype(tenLinks) links;
                 std::vector<std::string> lines, absent; } cases[] = {
      {"nothing known", "2.4.2", {}, {},
       {"Sytem PPD locations:\nCUPS model directory: ???\nFoomatic directory  : ???\nMarlo directory     : ???\n",
        "Custom ppd directory: ???\nSystem ppd directory: ???\n"},
       {"Share ppd directory", "Found existing", installDir}},
      {"openprinting tree with the product", "2.4.2", {model, openprintingTam}, {},
       {"CUPS model directory: " + model + "\n", "Share ppd directory : /usr/share/ppd\n", installDir + openprintingTam,
        "System ppd directory: /usr/share/ppd\n", "Found existing Vela PPD dir: \"" + openprintingTam + "\".",
        "Using previous Vela PPD directory: \"" + openprintingTam + "\"."}},
      {"foomatic tree with the maker's product directory", "2.4.2", {model, foomatic + "/Marlo/tam"}, {},
       {"Foomatic directory  : " + foomatic + "\n", "Marlo directory     : " + foomatic + "/Marlo\n",
        "System ppd directory: " + foomatic + "\n", "Found existing Vela PPD dir: \"" + foomatic + "/Marlo/tam\"."}},
      {"foomatic tree without the maker's directory", "2.4.2", {model, foomatic}, {},
       {"Marlo directory     : ???\n", installDir + model + "/tam"}, {"Found existing"}},
      {"distribution layout", "1.3.0", {model, "/usr/share/ppd/HP", "/usr/share/ppd/Epson"}, {},
       {installDir + "/usr/share/ppd/tam"}},
      {"plain /usr/share/ppd", "2.0", {model, "/usr/share/ppd"}, {},
       {installDir + "/usr/share/ppd/tam", "Created directory: '/usr/share/ppd/tam'."}},
      {"CUPS 1.2, absolute link into the foomatic tree", "1.2.7", {model, foomatic}, {{foomatic, model + "/foomatic-db"}},
       {"Link 1: " + model + "/foomatic-db linked to " + foomatic + ".", installDir + foomatic + "/tam"}, {"No known links"}},
      {"CUPS 1.2, relative link to the custom tree", "1.2.7", {model, "/usr/share/ppd-custom"},
       {{"../../ppd-custom", model + "/custom"}},
       {"Link 1: " + model + "/custom linked to ../../ppd-custom.", installDir + model + "/custom/tam"}},
      {"CUPS 1.2, no known links (a target longer than 255): a link to the shared tree is made", "1.2.7",
       {model, "/usr/share/ppd"}, {{"/usr/share/ppd/" + std::string(300, 'x'), model + "/long"}},
       {"No known links in cups model dir: " + model + "\n", installDir + "/usr/share/ppd/tam",
        "Link 1: " + model + "/tam linked to /usr/share/ppd/tam."}, {"Link 1: " + model + "/long"}},
      {"CUPS 1.2, ten links: eight recorded", "1.2.7", {model + "/custom"}, tenLinks, {"Link 8: "}, {"Link 9: "}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SandboxHost host;
    prepareDiscoveryHost(host, true);
    host.installStub("/usr/bin/cups-config", 0, c.cupsVersion);
    for (const std::string& dir : c.dirs) host.makeDirs(dir);
    for (const auto& [target, link] : c.links) host.makeSymlink(target, link);
    runDiscovery(host, c.lines, c.absent);
    for (const std::string& l : c.lines) EXPECT_TRUE(!l.starts_with(installDir) || host.exists(l.substr(installDir.size()))) << l;
  }
}
