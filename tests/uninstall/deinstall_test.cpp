// `setup -d` in the sandbox host: which queues go and what lpadmin and lpstat
// are asked, names that must reach neither a shell nor a path outside the
// product, and the product's files and directories with their log lines.
#include <sstream>

#include "sandbox/preview_check.h"
#include "sandbox/sandbox_host.h"

namespace {

constexpr const char* kLpadmin = "/usr/sbin/lpadmin";
constexpr const char* kArgs = "/var/lib/sandbox-stubs/args";

std::string infoFile(const std::string& printerLines) {
  return "%%KORBLOCK_GENERAL_BEGIN\nUSRDIR          /opt/tam\n%%KORBLOCK_GENERAL_END\n%%KORBLOCK_PRINTERS_BEGIN\n" +
         printerLines + "%%KORBLOCK_PRINTERS_END\n%%KOREND\n";
}

// The host as an installation leaves it, with queue lab1's directory and
// script; stub lpadmin and lpstat append "argument count|first argument" to kArgs.
void installForRemoval(SandboxHost& host, const std::string& info, int lpadminStatus = 0) {
  host.installSetup("/opt/tam/bin");
  host.writeFile("/opt/tam/velaInfo4.0", info);
  for (const char* path : {"/opt/tam/bin/korgsfilter", "/opt/tam/lab1/velaConfig", "/opt/tam/lab1.sh"})
    host.writeFile(path, "x\n");
  host.makeSymlink("/opt/tam/bin/korgsfilter", "/usr/bin/korgsfilter");
  const std::string record = "printf '%s|%s\\n' \"$#\" \"$1\" >> " + std::string(kArgs);
  host.installStub(kLpadmin, lpadminStatus, "", record);
  host.installStub("/usr/bin/lpstat", 0, "", record);
}

RunResult runDeinstall(SandboxHost& host, const std::string& printSystem = "CUPS", const std::string& answer = "yes\n") {
  return host.run({"/opt/tam/bin/setup", "-d"}, {.stdinText = answer, .env = {"KORLPMODE=" + printSystem}});
}

// What the stubs record for one queue, and what the log says of it: lpadmin,
// or when it fails, lpadmin, lpstat and lpadmin again.
std::string argsOf(const std::string& queue, bool failing) {
  const std::string x = "1|-x" + queue + "\n";
  return failing ? x + "2|-p" + queue + "\n" + x : x;
}
std::string logOf(const std::string& queue, bool failing) {
  const std::string x = "Executing command:\n\t/usr/sbin/lpadmin -x" + queue + " 2>/dev/null\n";
  return (failing ? x + "Executing command:\n\t/usr/bin/lpstat -p" + queue + " -l > /dev/null\n" : "") + x +
         "Deleting the Vela printer: " + queue + ".\n";
}

}  // namespace

// Queues go from the entry after the printers block's head; names from the
// file reach neither a shell nor a path outside the product.
TEST(Deinstall, RemovesTheQueuesAfterTheHeadRetryingAFailingLpadminAndNothingElse) {
  REQUIRE_SANDBOX();
  using namespace std::string_literals;
  const std::string w79(79, 'w');
  std::string hostile = "Default\n";
  std::vector<std::string> hostileNames;
  for (const std::string& name : std::vector<std::string>{"a b", "it's", "say \"hi\"", "x;touch /tmp/pwned",
                                                          "$(touch /tmp/pwned)", "`touch /tmp/pwned`", "../../srv/victim",
                                                          "..", ".", std::string(200, 'v')}) {
    hostile += name + "\n";
    hostileNames.push_back(name.substr(0, 79));
  }
  const struct {
    std::string info;
    int lpadmin, count;  // lpadmin's exit status, printers found (-1: log not checked)
    std::vector<std::string> removed;
  } cases[] = {
      {infoFile("Default\nlab1\nlab2\n"), 0, 3, {"lab1", "lab2"}},
      {infoFile("lab1\nlab2\n"), 1, 2, {"lab2"}},
      {infoFile(""), 0, 0, {}},
      {infoFile("Default\n\nnull\nDefault\n"), 0, 4, {"null"}},
      {infoFile(hostile), 1, -1, hostileNames},
      {"%%KORBLOCK_GENERAL_BEGIN\nUSRDIR          /opt/tam\n%%KORBLOCK_GENERAL_END\n%%KOREND\n", 1, 0, {}},
      {infoFile("Default\nlab\0;touch /tmp/pwned\nlab2\n"s), 1, 3, {"lab", "lab2"}},
      // A 600-character line reads as three pieces of at most 255, each a queue.
      {infoFile("Default\n" + std::string(600, 'w') + "\nlab2\n"), 1, 5, {w79, w79, w79, "lab2"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.info.substr(0, 120));
    SandboxHost host;
    installForRemoval(host, c.info, c.lpadmin);
    for (const char* path : {"/srv/victim/keep", "/srv/victim.sh", "/opt/tam/keep"}) host.writeFile(path, "keep\n");
    host.makeSymlink("/srv/victim", "/opt/tam/lab2");  // never a way out of the product
    EXPECT_EQ(runDeinstall(host).status, 0);
    std::string log = "Number of Vela printers found: " + std::to_string(c.count) + ".\n", args;
    for (const std::string& name : c.removed) {
      log += logOf(name, c.lpadmin != 0);
      args += argsOf(name, c.lpadmin != 0);
    }
    EXPECT_TRUE(c.count < 0 || host.log().find(log) != std::string::npos) << host.log();
    EXPECT_EQ(host.exists(kArgs) ? host.readFile(kArgs) : "", args);
    EXPECT_FALSE(host.exists("/tmp/pwned"));
    EXPECT_EQ(host.readFile("/srv/victim/keep") + host.readFile("/srv/victim.sh") + host.readFile("/opt/tam/keep"),
              "keep\nkeep\nkeep\n");
  }
}

// A mistyped -u removes nothing: not from / (however written), nor from a directory without the
// information file, though queues named etc and bin are listed; and nothing through a link out of the product.
TEST(Deinstall, RemovesNothingOutsideAnInstallationDirectory) {
  REQUIRE_SANDBOX();
  const std::string nothing = "Nothing is removed: the installation directory '";
  const struct { std::string dir, line; } cases[] = {
      {"/", nothing + "/' is the root directory.\n"},
      {"/opt/tam/../..", nothing + "/opt/tam/../..' is the root directory.\n"},
      {"/opt", nothing + "/opt' holds no velaInfo4.0 or velaInfo2.0.\n"},
      {"/opt/tam", "Deleting file: '/opt/tam/bin/nc' - Not possible!\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dir);
    SandboxHost host;
    installForRemoval(host, infoFile("Default\nlab1\netc\nbin\n"));
    host.writeFile("/velaInfo4.0", infoFile(""));
    for (const char* path : {"/opt/etc/keep", "/opt/bin/nc"}) host.writeFile(path, "keep\n");
    // The product's programs elsewhere, reached through a link.
    ASSERT_EQ(host.shell("mv /opt/tam/bin /srv/bin && ln -s /srv/bin /opt/tam/bin && touch /srv/bin/nc").status, 0);
    const bool refused = c.dir != "/opt/tam";
    // What the view itself changed at the top and below /etc, /srv, /usr/bin (and /opt when refused).
    const auto listing = [&] {
      std::istringstream lines(host.changedEntries("/"));
      std::string kept;
      for (std::string line, kind, path; std::getline(lines, line);) {
        std::istringstream(line) >> kind >> path;  // "f /etc/x 644 0:0 ...", "gone /etc/y"
        const bool watched = path.find('/', 1) == std::string::npos || path.starts_with("/etc/") ||
                             path.starts_with("/srv/") || path.starts_with("/usr/bin/") ||
                             (refused && path.starts_with("/opt/"));
        if (watched && path != "/usr/bin/korgsfilter") kept += line + "\n";
      }
      return kept;
    };
    const std::string before = listing();
    EXPECT_EQ(host.run({"/opt/tam/bin/setup", "-d", "-u", c.dir}, {.stdinText = "yes\n", .env = {"KORLPMODE=CUPS"}})
                  .status, 0);
    EXPECT_NE(host.log().find(c.line), std::string::npos) << host.log();
    EXPECT_EQ(listing(), before);
    EXPECT_EQ(host.exists("/usr/bin/korgsfilter"), refused);
  }
}

// LPR and LPRng queues are not the installer's to delete; a CUPS host without
// a data directory has no model file to retire ("/model" is not one). Only a
// clear yes removes anything; no answer at all, or one too long, is a no.
TEST(Deinstall, EachPrintSystemAndAnswerRemovesOnlyItsShare) {
  REQUIRE_SANDBOX();
  const struct { std::string printSystem, answer; bool removes; } cases[] = {
      {"LPR", "yes\n", true},    {"LPRNG", "yes\n", true},  {"CUPS", "yes\n", true}, {"CUPS", "ja\n", true},
      {"CUPS", "no\n", false},   {"CUPS", "maybe\n", false}, {"CUPS", "", false},
      {"CUPS", std::string(300, 'x') + "\n", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.printSystem + " " + c.answer.substr(0, 10));
    SandboxHost host;
    installForRemoval(host, infoFile("Default\nlab1\n"));
    host.remove("/usr/share/cups");
    host.writeFile("/model/lab1", "keep\n");
    const RunResult result = runDeinstall(host, c.printSystem, c.answer);
    const bool no = !c.removes;
    EXPECT_EQ(host.stubCalls(kLpadmin).size(), c.removes && c.printSystem == "CUPS" ? 1u : 0u);
    EXPECT_EQ(host.readFile("/model/lab1"), "keep\n");
    EXPECT_EQ(host.log().find(no ? "Deleting" : "Deleting the Vela printer: lab1.\n") == std::string::npos, no);
    EXPECT_EQ(result.out.substr(0, result.out.find("\nVela 4.0-5 setup: ")),
              "Do you want to delete Vela and any possible Vela printer queues?\n\n"
              "Answer with y[es] or n[o], followed by <RETURN> please. ");
    const std::string said = no ? "Program abandoned by user.\n" : "Vela 4.0-0 has been un-installed from the system.\n";
    EXPECT_NE(result.err.find(said + "\n"), std::string::npos) << result.err;
    EXPECT_NE(host.log().find(said), std::string::npos);
    for (const char* path : {"/opt/tam/lab1", "/opt/tam/lab1.sh", "/opt/tam/velaInfo4.0", "/usr/bin/korgsfilter"})
      EXPECT_EQ(host.exists(path), no) << path;
  }
}

// The product installed by setup itself (with the items the sample product
// lacks), a queue lab1 with what the printer set-up leaves for it, links out
// of the tree and a pipe in it; then `setup -d`.
TEST(Deinstall, RemovesWhatTheInstallationLaidOutAndNothingBeyondIt) {
  REQUIRE_SANDBOX();
  SandboxHost host;
  host.installProduct("/opt/tam", {"Marlo_Tessel_1200dn-PCL.ppd.gz"});
  std::string manifest = host.readFile("/opt/tam/etc/VELAINST.CONF");
  for (const char* item : {"vela", "VELAINST.CONF", "bin/nc", "Default/velaConfig"}) {
    host.writeFile(std::string("/opt/tam/") + item, "x\n");
    manifest.insert(manifest.find("@@NULL"), std::string(item) + " . 00644\n");
  }
  host.writeFile("/opt/tam/etc/VELAINST.CONF", manifest);
  host.installStub(kLpadmin, 0);
  ASSERT_EQ(host.run({"/opt/tam/bin/setup"}, {.env = {"KORLPMODE=CUPS"}}).status, 0);
  std::string info = host.readFile("/opt/tam/velaInfo4.0");
  host.writeFile("/opt/tam/velaInfo4.0", info.insert(info.find("%%KORBLOCK_PRINTERS_END"), "lab1\n"));
  for (const char* path : {"/opt/tam/lab1/velaConfig", "/opt/tam/lab1.sh", "/usr/share/cups/model/lab1", "/dev/lab1",
                           "/srv/file", "/srv/dir/file"})
    host.writeFile(path, "keep\n");
  host.makeSymlink("/srv/file", "/opt/tam/bin/tool");
  host.makeSymlink("/srv/dir", "/opt/tam/etc/data");
  host.makeFifo("/opt/tam/ppd/sub/pipe");

  // The preview asks nothing, removes nothing, runs no lpadmin, and logs what
  // the removal then does.
  const std::string before = hostListing(host, {"/var/log/Vela4.0_Preview"});
  const RunResult preview = host.run({"/opt/tam/bin/setup", "-n", "-d"}, {.env = {"KORLPMODE=CUPS"}});
  EXPECT_EQ(listingChanges(before, hostListing(host, {"/var/log/Vela4.0_Preview"})), "");
  EXPECT_TRUE(host.exists("/dev/lab1"));
  EXPECT_EQ(host.stubCalls(kLpadmin), std::vector<std::string>{});
  EXPECT_EQ(preview.out.find("Do you want to delete"), std::string::npos) << preview.out;
  const std::string forecast = host.readFile("/var/log/Vela4.0_PreviewLog");

  runDeinstall(host);  // its question, answer and console lines: EachPrintSystemAndAnswerRemovesOnlyItsShare
  std::string lines = "Number of Vela printers found: 2.\nExecuting command:\n\t/usr/sbin/lpadmin -xlab1 2>/dev/null\n"
                      "Deleting the Vela printer: lab1.\n";
  for (const char* item : {"/opt/tam/vela", "/opt/tam/velaInfo4.0", "/opt/tam/bin/korgsfilter", "/usr/bin/korgsfilter",
                           "/opt/tam/etc/UNINSTALLVELA", "/opt/tam/bin/setup", "/opt/tam/etc/vela4.0.png",
                           "/opt/tam/VELAINST.CONF", "/opt/tam/etc/VELAINST.CONF", "/usr/bin/korgsfilter",
                           "/opt/tam/bin/nc"}) {
    const bool again = lines.find(std::string("'") + item + "'") != std::string::npos;
    lines += std::string("Deleting file: '") + item + "' - " + (again ? "Not possible!" : "OK.") + "\n";
  }
  for (const std::string dir : {"Default", "ppd", "etc", "bin"})
    lines += "Deleting directory: '/opt/tam/" + dir + "' - " + (dir == "ppd" ? "Not possible!" : "OK.") + "\n";
  lines += "CUPS is not restarted: lpadmin removes the queues from the running scheduler.\n"
           "Vela 4.0-0 has been un-installed from the system.\nFinishing Vela 4.0-0 installation : ";
  EXPECT_NE(host.log().find(lines), std::string::npos) << host.log();
  EXPECT_EQ(comparableLog(forecast), comparableLog(host.log()));
  EXPECT_EQ(host.listDir("/opt/tam"), std::vector<std::string>{"ppd"});
  EXPECT_TRUE(host.exists("/opt/tam/ppd/sub/pipe"));
  for (const char* path : {"/usr/bin/korgsfilter", "/usr/share/cups/model/lab1", "/dev/lab1"})
    EXPECT_FALSE(host.exists(path)) << path;
  EXPECT_EQ(host.readFile("/usr/share/cups/model/lab1.old"), "keep\n");
  EXPECT_EQ(host.readFile("/srv/file") + host.readFile("/srv/dir/file"), "keep\nkeep\n");
}
