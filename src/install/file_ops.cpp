// Directory and link routines of the installation. Every directory the
// installer creates gets its mode set with chmod after mkdir, so the process
// umask never decides it; links are made only where nothing exists yet.
// Each change and each test goes through the run's HostChanges, so a preview
// finds what it would have made.
#include "install/file_ops.h"

#include "discovery/selinux.h"
#include "driver/host_changes.h"
#include "driver/text.h"
#include "driver/update_log.h"

int installDirMode() { return 0755; }

// 1 when path exists in any form (a dangling link included).
static bool pathExists(const std::string& path) { return host().exists(path); }

int isDirectory(const std::string& path) { return !path.empty() && host().isDirectory(path) ? 1 : 0; }

int makeDir(const std::string& path, int create, int mode) {
  if (path.empty()) return -1;
  if (create != 0 && !pathExists(path) && host().makeDirectory(path, mode) == 0) {
    logLine(strFormat("Created directory: '%s'.\n", path.c_str()));
    if (host().changeMode(path, mode) == 0) {
      logLine(strFormat("Changing execution rights of '%s' to  00%o.\n", path.c_str(), static_cast<unsigned>(mode)));
    } else {
      logLine(strFormat("Could not chmod %s to %o.\n", path.c_str(), static_cast<unsigned>(mode)));
    }
    return 1;
  }
  return isDirectory(path) ? 0 : -1;
}

void makePath(const std::string& path) {
  for (std::size_t slash = path.find('/', 2); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    makeDir(path.substr(0, slash), 1, installDirMode());
  }
  makeDir(path, 1, installDirMode());
}

int linkFile(const std::string& target, const std::string& linkName) {
  if (!host().exists(target)) {
    logLine(strFormat("No file: %s", target.c_str()));
    return -1;
  }
  if (pathExists(linkName)) {
    logLine(strFormat("File: %s exists already. Not created as link!", linkName.c_str()));
    return -1;
  }
  return host().makeLink(target, linkName) == 0 ? 0 : -1;
}

int checkInstallDir(const std::string& dir) {
  static bool confirmed = false;
  if (confirmed) return 1;
  if (dir.empty()) return 0;
  if (makeDir(dir, 1, installDirMode()) == -1) {
    logLine(strFormat("No TAM directory: '%s' possible", dir.c_str()));
    return 0;
  }
  const std::string bin = dir + "/bin";
  if (makeDir(bin, 1, 0755) == -1) {
    logLine(strFormat("No TAM binary directory: '%s' possible", bin.c_str()));
    return 0;
  }
  const std::string etc = dir + "/etc";
  if (makeDir(etc, 1, 0755) == -1) {
    logLine(strFormat("No TAM etc directory: '%s' possible", etc.c_str()));
    return 0;
  }
  setSelinuxContext(bin, "-R -u system_u", 1);
  confirmed = true;
  return 1;
}
