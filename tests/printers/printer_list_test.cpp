// The printer list: which files of the CUPS ppd directory count as queues of
// the product, the information file's printers block, and the search for a
// queue's new PPD among (possibly compressed) candidates.
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "driver/settings.h"
#include "driver/text.h"
#include "driver/update_log.h"
#include "printers/model_table.h"
#include "printers/printer_list.h"
#include "support/sandbox_host.h"

namespace {

constexpr unsigned kUntouched = 99;

// A PPD of 35 lines with the model line on line 2, the version line where
// asked (0: none) and further lines by number.
std::string queuePPD(const std::string& modelLine, const std::string& versionLine = "*% Vela version: 1",
                     int versionAt = 3, const std::string& eol = "\n",
                     const std::vector<std::pair<int, std::string>>& more = {}) {
  std::vector<std::string> lines(35, "*% filler");
  lines[0] = "*PPD-Adobe: \"4.3\"";
  lines[1] = modelLine;
  if (versionAt > 0) lines[versionAt - 1] = versionLine;
  for (const auto& [number, line] : more) lines[number - 1] = line;
  std::string text;
  for (const std::string& line : lines) text += line + eol;
  return text;
}

// The part of the log that lists the queues.
std::string listedSection(const std::string& log) {
  const std::size_t begin = log.find("List of Marlo Printers installed:");
  const std::size_t end = log.find("List of Marlo PPD files to install:");
  if (begin == std::string::npos || end == std::string::npos) return {};
  return log.substr(begin, end - begin);
}

// Runs fn inside the view and returns the text it made ("" when the child
// failed): a child's exit status holds only 8 bits.
std::string insideText(SandboxHost& host, const std::function<std::string()>& fn) {
  host.remove("/tmp/inside-result");
  host.inside([&fn] {
    std::ofstream("/tmp/inside-result") << fn();
    return 0;
  });
  return host.exists("/tmp/inside-result") ? host.readFile("/tmp/inside-result") : "";
}

// Runs getInstalledPrinters inside the view with the log open; returns
// count * 10 + result.
int scanInside(SandboxHost& host, const std::string& cupsBaseDir) {
  return std::stoi("0" + insideText(host, [cupsBaseDir] {
    settings().cupsBaseDir = cupsBaseDir;
    settings().ppdInstallDir = "/usr/share/ppd/marlo";
    UpdateLog::open(0);
    PrinterList list;
    int count = -1;
    const int result = getInstalledPrinters(list, count);
    UpdateLog::close();
    return std::to_string(count * 10 + result);
  }));
}

}  // namespace

TEST(GetModelName, AcceptsSupportedModelLines) {
  const int tessel = findModelId("Tessel 1200dn");
  const int orla = findModelId("Orla 60");
  const std::string longLine = "*ModelName: \"Marlo Tessel 1200dn " + std::string(250, 'x') + " PCL\"\n";
  struct Case {
    std::string line;
    std::optional<std::string> text;
    unsigned pdl;
    int id;
  } cases[] = {
      {"*ModelName: \"Marlo Tessel 1200dn PCL\"\n", "\"Marlo Tessel 1200dn PCL\"", kPdlPcl, tessel},
      {"*ModelName:   \"Marlo Tessel 1200dn PXL\"\r\n", "\"Marlo Tessel 1200dn PXL\"", kPdlPxl, tessel},
      {"*ModelName: \"Marlo Tessel 1200dn PS\"", "\"Marlo Tessel 1200dn PS\"", kPdlPostScript, tessel},
      {"*ModelName: \"Marlo Orla 60 Pro PS\"\n", "\"Marlo Orla 60 Pro PS\"", kPdlPostScript, orla},
      // No marker at the end: the text is accepted, the kind is none.
      {"*ModelName: \"Marlo Tessel 1200dn PS Edition 2\"\n", "\"Marlo Tessel 1200dn PS Edition 2\"", kPdlNone, tessel},
      // A model of no row: the kind is written, the id is not.
      {"*ModelName: \"Acme Writer 9 PS\"\n", std::nullopt, kPdlPostScript, -1},
      {"*NickName: \"Marlo Tessel 1200dn PCL\"\n", std::nullopt, kUntouched, -1},
      {longLine, longLine.substr(12, longLine.size() - 13), kPdlPcl, tessel},
      {"*ModelName:", std::nullopt, kPdlNone, -1},
  };
  for (const Case& c : cases) {
    unsigned pdl = kUntouched;
    int id = -1;
    EXPECT_EQ(getModelName(c.line, pdl, id), c.text) << c.line;
    EXPECT_EQ(pdl, c.pdl) << c.line;
    EXPECT_EQ(id, c.id) << c.line;
  }
}

TEST(GetPPDVersion, TakesOneDigit) {
  const std::pair<std::string, int> cases[] = {
      {"*% Vela version: 1\n", 1}, {"*% Vela version:1", 1},   {"*% Vela version:   2\r\n", 2},
      {"*% Vela version: 10", 1},  {"*% Vela version: 0", 0},  {"*% Vela version: x1", -1},
      {"*% Vela version:", -1},    {"*% Vela version:\t1", -1}, {"*% vela version: 1", -1},
  };
  for (const auto& [line, version] : cases) EXPECT_EQ(getPPDVersion(line), version) << line;
}

TEST(GetInstalledPrinters, ListsOnlyCurrentProductPPDs) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.remove("/etc/cups/ppd");
  const std::string dir = "/etc/cups/ppd/";
  const std::string corvane = "*ModelName: \"Marlo Corvane C210dn PS\"";
  const std::string tessel = "*ModelName: \"Marlo Tessel 2100dn PCL\"";
  const std::string longName(200, 'q');

  // Listed.
  host.writeFile(dir + "lab1.ppd", queuePPD(corvane));
  host.writeFile(dir + "lab1.ppd.O", queuePPD(tessel));
  host.writeFile(dir + "zero-then-one.ppd", queuePPD(corvane, "*% Vela version: 0", 3, "\n", {{30, "*% Vela version: 1"}}));
  host.writeFile(dir + "crlf.ppd", queuePPD(corvane, "*% Vela version: 1", 3, "\r\n"));
  host.writeFile(dir + "nonl.ppd", "*PPD-Adobe: \"4.3\"\n" + corvane + "\n*% Vela version: 1");
  host.writeFile(dir + "odd-lines.ppd", "*% " + std::string(1000, 'a') + "\n*%\0\0 nul\n" + corvane +
                                            "\n*% Vela version: 1\n");
  host.writeFile(dir + longName + ".ppd", queuePPD(tessel));
  // Not listed.
  host.writeFile(dir + "late.ppd", queuePPD(corvane, "*% Vela version: 1", 31));
  host.writeFile(dir + "zero-then-late-one.ppd", queuePPD(corvane, "*% Vela version: 0", 3, "\n", {{31, "*% Vela version: 1"}}));
  host.writeFile(dir + "v2.ppd", queuePPD(corvane, "*% Vela version: 2"));
  host.writeFile(dir + "acme.ppd", queuePPD("*ModelName: \"Acme Writer 9 PS\""));
  host.writeFile(dir + "nopdl.ppd", queuePPD("*ModelName: \"Marlo Corvane C210dn\""));
  host.writeFile(dir + "longmodel.ppd",
                 queuePPD("*ModelName: \"Marlo Corvane C210dn " + std::string(270, 'x') + " PS\""));
  host.writeFile(dir + "noversion.ppd", queuePPD(corvane, "", 0));
  host.makeFifo(dir + "fifo.ppd");
  host.makeDirs(dir + "subdir.ppd");

  EXPECT_EQ(scanInside(host, ""), 71);
  const std::string log = host.log();
  const std::string listed = listedSection(log);
  EXPECT_NE(listed.find("List of Marlo Printers installed: 7.\n"), std::string::npos) << log;
  for (const std::string queue : {"lab1", "zero-then-one", "crlf", "nonl", "odd-lines"}) {
    EXPECT_NE(listed.find("Printer : " + queue + ".\n"), std::string::npos) << queue << "\n" << log;
  }
  EXPECT_NE(listed.find("Printer : " + longName.substr(0, 79) + ".\n"), std::string::npos);
  EXPECT_NE(listed.find("\tPPD File: /etc/cups/ppd/" + longName + ".ppd.\n"), std::string::npos);
  EXPECT_NE(listed.find("\tPPD File: /etc/cups/ppd/lab1.ppd.O.\n\tModel   : \"Marlo Tessel 2100dn PCL\".\n"
                        "\tMarlo ID: " + std::to_string(findModelId("Tessel 2100dn")) + ".\n\tPDL     : PCL.\n"),
            std::string::npos) << listed;
  EXPECT_NE(listed.find("\tPPD File: /etc/cups/ppd/crlf.ppd.\n\tModel   : \"Marlo Corvane C210dn PS\".\n"),
            std::string::npos);
  for (const std::string queue : {"late", "v2", "acme", "nopdl", "longmodel", "noversion", "fifo", "subdir",
                                  "zero-then-late-one"}) {
    EXPECT_EQ(listed.find("Printer : " + queue + ".\n"), std::string::npos) << queue;
  }
  EXPECT_NE(log.find("List of Marlo PPD files to install: 7.\n"), std::string::npos);
  EXPECT_NE(log.find("Getting PPD from directory: /usr/share/ppd/marlo\n"), std::string::npos);
}

// Where the scan looks, and what it reports when it finds nothing.
TEST(GetInstalledPrinters, DirectoryFollowsTheCupsBaseDir) {
  REQUIRE_SANDBOX();
  const std::string ppd = queuePPD("*ModelName: \"Marlo Corvane C210dn PS\"");
  struct Case {
    std::string baseDir;
    std::string ppdFile;  // empty: no ppd directory at all
    int expected;         // count * 10 + result
    std::string report;
  } cases[] = {
      {"", "/etc/cups/ppd/lab1.ppd", 11, "List of Marlo Printers installed: 1.\nPrinter : lab1.\n"},
      {"/", "/etc/cups/ppd/lab1.ppd", 11, "List of Marlo Printers installed: 1.\n"},
      {"/opt/cb", "/opt/cb/etc/cups/ppd/lab1.ppd", 11, "\tPPD File: /opt/cb/etc/cups/ppd/lab1.ppd.\n"},
      {"/opt/cb", "/etc/cups/ppd/lab1.ppd", 0, ""},
      {"", "", 0, ""},
      {"", "/etc/cups/ppd/", 0, "List of Marlo Printers installed: 0.\nList of Marlo PPD files to install: 0.\n"},
  };
  for (const Case& c : cases) {
    SandboxHost host;
    host.remove("/etc/cups/ppd");
    if (c.ppdFile.ends_with("/")) host.makeDirs(c.ppdFile);
    if (c.ppdFile.ends_with(".ppd")) host.writeFile(c.ppdFile, ppd);
    EXPECT_EQ(scanInside(host, c.baseDir), c.expected) << c.baseDir << " " << c.ppdFile;
    const std::string log = host.exists("/var/log/Vela4.0_UpdateLog") ? host.log() : "";
    if (c.report.empty()) EXPECT_EQ(log.find("List of Marlo"), std::string::npos) << log;
    else EXPECT_NE(log.find(c.report), std::string::npos) << log;
  }
}

TEST(GetInfoPrinters, ReadsThePrintersBlock) {
  REQUIRE_SANDBOX();
  const std::string longName(100, 'n');
  struct Case {
    int kind;
    std::string file;     // velaInfo2.0 or velaInfo4.0
    std::string content;  // nullopt-like: empty means no file
    int result;
    int counter;
    std::string names;  // queue names, one per line
  } cases[] = {
      {2, "velaInfo4.0", "#\n%%KORBLOCK_PRINTERS_BEGIN\nlab1\nlab2  \n" + longName + "\n%%KORBLOCK_PRINTERS_END\nx\n",
       1, 3, "lab1\nlab2\n" + longName.substr(0, 79) + "\n"},
      {2, "velaInfo4.0", "%%KORBLOCK_PRINTERS_BEGIN\n%%KORBLOCK_PRINTERS_END\n", 1, 0, "old\n"},
      {2, "velaInfo4.0", "%%KORBLOCK_PRINTERS_BEGIN \nlab1\r\nlab2", 1, 2, "lab1\r\nlab2\n"},
      {2, "velaInfo4.0", "%%KORBLOCK_USERS_BEGIN\nroot\n", 0, 42, "old\n"},
      {2, "velaInfo2.0", "%%KORBLOCK_PRINTERS_BEGIN\nlab1\n", 0, 42, "old\n"},
      {1, "velaInfo2.0", "%%KORBLOCK_PRINTERS_BEGIN\nlab9\n", 1, 1, "lab9\n"},
  };
  for (const Case& c : cases) {
    SandboxHost host;
    host.writeFile("/opt/tam/" + c.file, c.content);
    const std::string result = insideText(host, [kind = c.kind] {
      settings().installDir = "/opt/tam";
      settings().printerCount = 42;
      PrinterList list;
      list.head().queueName = "old";
      const int found = getInfoPrinters(kind, list);
      std::string text = std::to_string(found) + " " + std::to_string(settings().printerCount) + "\n";
      for (const PrinterEntry& entry : list.entries) text += entry.queueName + "\n";
      return text;
    });
    EXPECT_EQ(result, std::to_string(c.result) + " " + std::to_string(c.counter) + "\n" + c.names) << c.content;
  }
}

// A queue's new PPD: same model id and kind, text beginning with the queue's,
// compressed or not; each candidate is read once however often it is searched.
TEST(FindNewPPD, MatchesModelKindAndTextPrefix) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  const std::string dir = "/usr/share/ppd/marlo";
  host.writeFile(dir + "/a.ppd", "*PPD-Adobe: \"4.3\"\n*ModelName: \"Marlo Gavel 10 PS\"\n");
  host.writeFile(dir + "/b.ppd", "*PPD-Adobe: \"4.3\"\n*ModelName: \"Marlo Gavel 12 PCL\"\n");
  host.writeFile(dir + "/d.ppd", "*ModelName: \"Marlo Gavel 14 PCL Duplex Edition PCL\"\n");
  host.writeFile(dir + "/e.ppd", std::string("*ModelName: \"Marlo \0Gavel 16 PCL\"\n", 36));
  ASSERT_EQ(host.shell("cd " + dir + " && gzip -n b.ppd && head -c 30 b.ppd.gz > c.ppd.gz").status, 0);
  host.makeFifo(dir + "/f.ppd");

  struct Case {
    std::string text;
    const char* row;
    unsigned pdl;
    std::string found;
  } cases[] = {
      {"\"Marlo Gavel 10 PS\"", "Gavel 10", kPdlPostScript, dir + "/a.ppd"},
      {"\"Marlo Gavel 10 PS\"", "Gavel 10", kPdlPcl, ""},
      {"\"Marlo Gavel 12 PCL\"", "Gavel 12", kPdlPcl, dir + "/b.ppd.gz"},
      {"\"Marlo Gavel 14", "Gavel 14", kPdlPcl, dir + "/d.ppd"},
      {"\"Marlo Gavel 14 PCL\"", "Gavel 14", kPdlPcl, ""},
      {"\"Marlo Gavel 16 PCL\"", "Gavel 16", kPdlPcl, ""},
      {"\"Marlo Gavel 10 PS\"", "Gavel 12", kPdlPostScript, ""},
  };
  for (const Case& c : cases) {
    const std::string result = insideText(host, [&c, &dir] {
      PrinterEntry printer;
      printer.modelText = c.text;
      printer.modelId = findModelId(c.row);
      printer.pdlKind = c.pdl;
      std::string path;
      const int found = findPPDInDir(dir, printer, path);
      const long opensAfterOne = candidateOpenCount();
      findPPDInDir(dir, printer, path);
      return strFormat("%d %ld %ld %s", found, opensAfterOne, candidateOpenCount(), path.c_str());
    });
    // A search that finds nothing reads each regular file once; a second
    // search reads none again.
    EXPECT_TRUE(result.starts_with(c.found.empty() ? "0 5 5 " : "1 ")) << c.text << ": " << result;
    EXPECT_TRUE(result.ends_with(" " + c.found)) << c.text << ": " << result;
    std::istringstream fields(result);
    int found = 0;
    long first = 0, second = 0;
    fields >> found >> first >> second;
    EXPECT_EQ(first, second) << c.text;
  }
}

// The product's own PPDs: a queue on an old-generation PPD gets the
// compressed new PPD of the same model.
TEST(FindNewPPD, FindsTheProductsCompressedPPD) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.installProduct();
  host.remove("/etc/cups/ppd");
  host.copyIn(std::string(VELA_OLD_PPD_DIR) + "/Marlo_Quillon_Q520x-PCL.ppd", "/etc/cups/ppd/office.ppd");
  EXPECT_EQ(scanInside(host, "/"), 11);
  EXPECT_NE(host.log().find("Printer : office.\nGetting PPD from directory: /usr/share/ppd/marlo\n"
                            "Getting PPD from directory: /opt/tam/ppd\n"
                            "PPD = /opt/tam/ppd/Marlo_Quillon_Q520x-PCL.ppd.gz.\n"),
            std::string::npos) << host.log();
}
