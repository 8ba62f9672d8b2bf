// SELinux support: the product's policy module is loaded once at the start
// of an installation, and its files are labelled with chcon as they land.
#include "discovery/selinux.h"

#include <unistd.h>

#include <cstdio>

#include "discovery/command_locator.h"
#include "driver/settings.h"
#include "driver/shell.h"
#include "driver/text.h"
#include "driver/update_log.h"

namespace {
constexpr const char* kPolicyModule = "/opt/tam/etc/vela.pp";
}

int installSelinuxModule() {
  const std::optional<std::string> semodule = locateCommand("semodule");
  if (!semodule) return 0;
  if (access(kPolicyModule, F_OK) != 0) {
    std::fputs("SELinux running, but no file vela.pp found.", stderr);
    return 0;
  }
  return runHostCommand(strFormat("%s -i %s", shellWord(*semodule).c_str(), kPolicyModule));
}

int setSelinuxContext(const std::string& target, const std::string& options, int logIt) {
  const std::string& chcon = settings().chcon;
  if (chcon.empty() || chcon[0] != '/') return -1;
  const std::string command =
      strFormat("%s %s %s 2>/dev/null", shellWord(chcon).c_str(), options.c_str(), shellWord(target).c_str());
  const int status = runHostCommand(command);
  if (logIt) logLine(strFormat("chcon SELinux for: \"%s\": result: %d", command.c_str(), status));
  return status;
}
