// Command line handling. Options are read twice with getopt: the first pass
// takes what must be known before the log opens (-S, -d, -f, -h), the second
// the rest once the run is under way.
#include "driver/command_line.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "discovery/command_locator.h"
#include "driver/settings.h"
#include "driver/shell.h"

namespace {

constexpr const char* kOptions = "df:hi:m:nq:ru:w:S:D:Z:";
constexpr const char* kVersion = "4.0-5";

int number(const char* text) { return static_cast<int>(std::strtol(text, nullptr, 10)); }

// Text arguments live in 256-byte fields; a longer one is refused rather than
// cut, since a cut path would name some other directory.
void assignTextOption(std::string& field, char option, const char* value) {
  if (std::string_view(value).size() > kPathLimit) {
    std::fprintf(stderr, "Option -%c: argument longer than 255 characters ignored.\n", option);
    return;
  }
  field = value;
}

}  // namespace

void initSettings() {
  SetupSettings& s = settings();
  s = SetupSettings{};
  s.installDir.clear();
  s.manifestName.clear();
  s.selinuxenabled = locateCommand("selinuxenabled").value_or("");
  s.chcon = locateCommand("chcon").value_or("");
  s.userId = static_cast<int>(getuid());
  s.groupId = static_cast<int>(getgid());
  s.selinux = !s.selinuxenabled.empty() && runShell(s.selinuxenabled) == 0 ? 1 : 0;
}

void printUsage() {
  std::fprintf(stderr, "Vela setup version: %s.\n", kVersion);
  std::fputs("Usage:\n", stderr);
  std::fputs("setup [options].\n", stderr);
  std::fputs("Options:\n", stderr);
  std::fprintf(stderr, "-d\t: de-installation of Vela %s.\n", kVersion);
  std::fputs("-fx\t: allow install from any directory: x=0:no,1:yes [1].\n", stderr);
  std::fputs("-h\t: display this message.\n", stderr);
  std::fputs("-qx\t: query steps of installation: x=0:no,1:yes [0].\n", stderr);
  std::fputs("-Sx\t: set SELinux mode: x=0:off,1:on [1].\n", stderr);
  std::fputs("-Dx\t: set debug mode. [0].\n", stderr);
  std::fputs("-n\t: preview: report what the run would do, change nothing.\n", stderr);
  std::fputs("-r\t: restore each product queue's PPD from its backup.\n", stderr);
}

void firstOptionPass(int argc, char** argv) {
  SetupSettings& s = settings();
  int option;
  while ((option = getopt(argc, argv, kOptions)) != -1) {
    switch (option) {
      case 'S':
        s.selinux = number(optarg);
        break;
      case 'd':
        s.deinstall = 1;
        break;
      case 'f':
        s.anyDirectory = number(optarg);
        break;
      case 'n':
        s.preview = 1;
        break;
      case 'r':
        s.restore = 1;
        break;
      case 'h':
        printUsage();
        std::exit(0);
      default:
        break;
    }
  }
  optind = 1;
}

void secondOptionPass(int argc, char** argv) {
  SetupSettings& s = settings();
  int option;
  while ((option = getopt(argc, argv, kOptions)) != -1) {
    switch (option) {
      case 'D':
      case 'Z':
        s.debugLevel = number(optarg);
        break;
      case 'h':
        printUsage();
        std::exit(0);
      case 'i':
        assignTextOption(s.manifestName, 'i', optarg);
        break;
      case 'q':
        s.query = number(optarg) < 0 ? 0 : number(optarg);
        break;
      case 'u':
        assignTextOption(s.installDir, 'u', optarg);
        break;
      default:  // -m, -w, -S, -d, -f, -n, -r and unknown options change nothing here
        break;
    }
  }
}
