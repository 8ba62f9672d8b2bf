// Restarting the CUPS scheduler: systemd first, then the service command or
// the distribution's init script, each step written to the log.
#include "discovery/cups_restart.h"

#include <unistd.h>

#include <optional>
#include <string>

#include "discovery/command_locator.h"
#include "driver/shell.h"
#include "driver/text.h"
#include "driver/update_log.h"

namespace {

bool present(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// The located path of a command, when it is really there.
std::optional<std::string> existingCommand(const char* name) {
  std::optional<std::string> path = locateCommand(name);
  if (path && !present(*path)) path.reset();
  return path;
}

// The command of the second method, or empty when the host has none.
std::string fallbackRestartCommand() {
  if (const std::optional<std::string> service = existingCommand("service")) {
    return shellWord(*service) + " cups restart";
  }
  if (present("/etc/init.d/cups")) return "/etc/init.d/cups restart";
  if (present("/etc/init.d/cupsys")) return "/etc/init.d/cupsys restart";
  return "";
}

}  // namespace

int restartCups() {
  int status = -1;
  if (const std::optional<std::string> systemctl = existingCommand("systemctl")) {
    const std::string command = shellWord(*systemctl) + " restart cups.service";
    logLine(strFormat("CUPS restart command:\"%s\"\n", command.c_str()));
    status = runHostCommand(command);
  }
  logLine(strFormat("CUPS reset returned with: %d", status));
  if (status == 0) return 0;

  const std::string command = fallbackRestartCommand();
  if (command.empty()) {
    logLine("Cannot reset CUPS. Sorry!");
  } else {
    status = runHostCommand(command);
  }
  logLine(strFormat("CUPS reset returned with: %d", status));
  return status;
}
