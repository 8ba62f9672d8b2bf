// goInstall: the installation proper, in its fixed order: the product's
// directories, the PPD installation directory (archived first on an upgrade
// from the older generation), the information file, the uninstall script,
// the copy loop over the manifest, and the print filter's link and labels.
#include "install/go_install.h"

#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "discovery/selinux.h"
#include "driver/host_changes.h"
#include "driver/regular_file.h"
#include "driver/run_account.h"
#include "driver/run_end.h"
#include "driver/settings.h"
#include "driver/shell.h"
#include "driver/status_line.h"
#include "driver/text.h"
#include "driver/update_log.h"
#include "install/file_ops.h"
#include "install/info_file.h"
#include "install/manifest.h"
#include "install/ppd_archive.h"
#include "install/uninstall_script.h"

namespace {

constexpr const char* kFilterLink = "/usr/bin/korgsfilter";

[[noreturn]] void quitInstallation(const std::string& reason) {
  accountEarlyEnd(reason);
  endRun();
}

void logBlanked(std::string text) {
  blankControlChars(text);
  logLine(text);
}

// Where one entry goes: the path cp copies onto.
struct CopyTarget {
  std::string target;
  bool namesFile = false;  // "." and "/" entries name the copied file itself
  bool question = false;   // "?" entries are copied even from inside the installation
};

std::string lastComponent(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string parentOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The directory "?" entries go to.
std::string questionDir() {
  const SetupSettings& s = settings();
  if (!s.ppdInstallDir.empty() && isDirectory(s.ppdInstallDir)) return s.ppdInstallDir;
  if (!s.cupsModelDir.empty() && isDirectory(s.cupsModelDir)) return s.cupsModelDir;
  return "/tmp";
}

// Works out the destination of entry from its destination text; an entry
// without a destination form of its own keeps the inherited path.
CopyTarget resolveDestination(const ManifestEntry& entry, std::string& inherited) {
  const std::string& dest = entry.destination;
  const std::string& installDir = settings().installDir;
  CopyTarget where;
  if (dest == "." || dest == "/") {
    where.target = installDir + "/" + entry.source;
    where.namesFile = true;
    // What follows goes beside this file, not over it.
    inherited = parentOf(where.target);
    return where;
  }
  if (dest == "?") {
    inherited = questionDir();
    where.question = true;
  } else if (dest.size() > 2 && (startsWith(dest, "./") || startsWith(dest, "/"))) {
    inherited = startsWith(dest, "./") ? installDir + "/" + dest.substr(2) : dest;
    makeDir(inherited, 1, installDirMode());
  }
  where.target = inherited;
  return where;
}

void reportChmodFailure(const std::string& path, int mode) {
  logLine(strFormat("Could not chmod %s to %o.\n", path.c_str(), static_cast<unsigned>(mode)));
}

void reportModeChange(const std::string& path, int mode) {
  logLine(strFormat("Changing execution rights of '%s' to  00%o.\n", path.c_str(), static_cast<unsigned>(mode)));
}

// Gives the copied file the entry's mode. A source with shell wildcards is
// reported once under its pattern and applied to every file it matched.
void applyMode(const ManifestEntry& entry, const CopyTarget& where) {
  const std::string path = where.namesFile ? where.target : where.target + "/" + lastComponent(entry.source);
  if (where.namesFile || entry.source.find_first_of("*?[") == std::string::npos) {
    reportModeChange(path, entry.mode);
    if (host().changeMode(path, entry.mode) != 0) reportChmodFailure(path, entry.mode);
    return;
  }
  reportModeChange(path, entry.mode);
  glob_t matches{};
  if (glob(entry.source.c_str(), GLOB_TILDE | GLOB_BRACE, nullptr, &matches) == 0) {
    for (std::size_t i = 0; i < matches.gl_pathc; ++i) {
      const std::string copied = where.target + "/" + lastComponent(matches.gl_pathv[i]);
      if (host().changeMode(copied, entry.mode) != 0) reportChmodFailure(copied, entry.mode);
    }
  }
  globfree(&matches);
}

// The files cp makes for entry: its source expanded as the shell expands it
// (a pattern that matches nothing stays as it is), each going into the
// target directory or onto the target file.
std::vector<FileCopy> plannedCopies(const ManifestEntry& entry, const CopyTarget& where) {
  std::vector<FileCopy> copies;
  glob_t matches{};
  if (glob(entry.source.c_str(), GLOB_TILDE | GLOB_BRACE | GLOB_NOCHECK, nullptr, &matches) == 0) {
    const bool intoDirectory = !where.namesFile && isDirectory(where.target);
    for (std::size_t i = 0; i < matches.gl_pathc; ++i) {
      const std::string source = matches.gl_pathv[i];
      copies.push_back({source, intoDirectory ? where.target + "/" + lastComponent(source) : where.target});
    }
  }
  globfree(&matches);
  return copies;
}

// Adds each copied (or failed) target to the run's account.
void accountCopies(const std::vector<FileCopy>& copies, std::vector<std::string>& list) {
  for (const FileCopy& copy : copies) list.push_back(copy.target);
}

// The product's files that CUPS itself reads: its PPDs and the filter they run.
bool readByCups(const std::string& target) {
  const std::string name = lastComponent(target);
  return name == "korgsfilter" || name.ends_with(".ppd") || name.ends_with(".ppd.gz");
}

// How many of the copies bring bytes the target does not already hold, and
// how many of those CUPS reads: a second run of the same product changes no
// file.
struct ChangingCopies {
  int files = 0;
  int readByCups = 0;
};
ChangingCopies changingCopies(const std::vector<FileCopy>& copies) {
  ChangingCopies changing;
  for (const FileCopy& copy : copies) {
    if (sameContent(copy.source, host().readablePath(copy.target))) continue;
    ++changing.files;
    if (readByCups(copy.target)) ++changing.readByCups;
  }
  return changing;
}

// Whether every target already has mode (any mode when the entry sets none).
bool modesAlreadyAre(const std::vector<FileCopy>& copies, int mode) {
  if (mode <= 0) return true;
  for (const FileCopy& copy : copies) {
    struct stat info {};
    if (stat(host().readablePath(copy.target).c_str(), &info) != 0 || static_cast<int>(info.st_mode & 07777) != mode) {
      return false;
    }
  }
  return true;
}

void copyEntry(int index, const ManifestEntry& entry, std::string& inherited, bool copyFromSource) {
  const SetupSettings& s = settings();
  if (s.debugLevel > 0) {
    std::fprintf(stderr, "goInstall[%d]: %s ===> %s, o%o.\n", index, entry.source.c_str(), entry.destination.c_str(),
                 static_cast<unsigned>(entry.mode));
  }
  const CopyTarget where = resolveDestination(entry, inherited);
  std::string message = strFormat("Copying file %s to %s.\n", entry.source.c_str(), where.target.c_str());
  blankControlChars(message);
  const bool sourceNamed = entry.source.size() > 2 || entry.source == "nc";
  if (!sourceNamed || where.target.size() <= 2 || !(copyFromSource || where.question)) return;

  const std::string command = strFormat("%s  %s %s", shellWord(s.cp.empty() ? "cp" : s.cp).c_str(),
                                        entry.source.c_str(), shellWord(where.target).c_str());
  const std::vector<FileCopy> copies = plannedCopies(entry, where);
  const ChangingCopies changing = changingCopies(copies);
  // Targets that already hold these bytes with this mode are left as they
  // are: a re-run of the same product rewrites no file.
  if (changing.files == 0 && !copies.empty() && modesAlreadyAre(copies, entry.mode)) {
    logLine(message);
    accountCopies(copies, runAccount().filesCopied);
    return;
  }
  if (host().copyFiles(command, copies) != 0) {
    logLine(message + ": WRONG!!!");
    accountCopies(copies, runAccount().filesFailed);
    return;
  }
  logLine(message);
  accountCopies(copies, runAccount().filesCopied);
  runAccount().filesChanged += changing.files;
  runAccount().cupsReadChanges += changing.readByCups;
  if (entry.mode > 0) applyMode(entry, where);
}

// Step 5: the PPD installation directory, made or replaced by the fallback
// under the CUPS model directory.
void settlePPDInstallDir() {
  SetupSettings& s = settings();
  std::string& ppd = s.ppdInstallDir;
  if (ppd.empty() || isDirectory(ppd)) {
    logLine(strFormat("PPD installation dir: %s\n", ppd.c_str()));
  } else if (host().makeDirectory(ppd, 0755) == 0) {
    if (host().changeMode(ppd, 0755) == 0) {
      logLine(strFormat("Changing execution rights of '%s' to  00%o.\n", ppd.c_str(), 0755u));
    } else {
      logLine(strFormat("Could not chmod directory: %s", ppd.c_str()));
    }
  } else {
    logLine(strFormat("Could not create directory: %s", ppd.c_str()));
    logLine(strFormat("Falling back to CUPS model dir: %s", s.cupsModelDir.c_str()));
    // Without a model directory there is no fallback; "/tam" is not made.
    ppd = s.cupsModelDir.empty() ? std::string() : s.cupsModelDir + "/tam";
    if (ppd.empty() || (makeDir(ppd, 0, 0766) != 0 && makeDir(ppd, 1, 0766) == -1)) {
      logLine(strFormat("The installation directory:\n\t'%s'\ndoes not exist or is not OK.", ppd.c_str()));
    }
  }
  if (s.upgradeMode == 1) savePPDFiles(ppd);
}

// Step 6: the installation directory must be there now.
void confirmInstallDir() {
  const SetupSettings& s = settings();
  int state;
  if (s.upgradeMode == 0) {
    if (s.installDir == "/opt/tam") makePath(s.installDir);
    state = makeDir(s.installDir, 1, installDirMode());
  } else {
    state = makeDir(s.installDir, 0, 0755);
  }
  if (state == -1) {
    logLine(strFormat("The installation directory:\n\t'%s'\ndoes not exist or is not OK.", s.installDir.c_str()));
    quitInstallation("the installation directory is not there");
  }
  logBlanked(strFormat("Installation directory: '%s' OK.\n", s.installDir.c_str()));
}

// Steps 8 to 10: information file, uninstall script.
void writeRecords() {
  const SetupSettings& s = settings();
  const char* dir = s.installDir.c_str();
  if (s.upgradeMode == 0) {
    writeInfoFile();
    logBlanked(strFormat("Creating configuration file: '%s/velaInfo3.0'.\n", dir));
  } else if (s.upgradeMode == 1) {
    upgradeInfoFile();
    logBlanked(strFormat("Copying Vela config file %s/velaInfo2.0 to velaInfo3.0.\n", dir));
  } else {
    logBlanked(strFormat("Skip creating configuration file: '%s/velaInfo3.0'.\n", dir));
  }
  logBlanked(strFormat("Creating uninstallation script: '%s/UNINSTALLVELA'.\n", dir));
  writeUninstallScript();
  logBlanked("Creating printer start scripts.\n");
}

// Steps 13 and 14: the filter link, never replacing anything, and its labels.
void linkAndLabelFilter() {
  if (!host().exists(kFilterLink)) {
    const std::string target = settings().installDir + "/bin/korgsfilter";
    std::string message = strFormat("Link %d: %s linked to %s.\n", 1, kFilterLink, target.c_str());
    if (linkFile(target, kFilterLink) != 0) message += ": WRONG!!!";
    logLine(message);
  }
  setSelinuxContext(kFilterLink, "-u system_u", 1);
  setSelinuxContext("/opt/tam/bin/korgsfilter", "-t bin_t", 1);
}

}  // namespace

void goInstall(int count) {
  SetupSettings& s = settings();
  if (s.sourceDir == "/opt/tam/bin") s.sourceDir = "/opt/tam";
  if (chdir(s.sourceDir.c_str()) == 0) {
    logLine(strFormat("cd %s.\n", s.sourceDir.c_str()));
  } else {
    logLine(strFormat("Could not change directory to: %s.\n", s.sourceDir.c_str()));
  }
  const bool copyFromSource = s.sourceDir != s.installDir;
  if (copyFromSource) logLine(strFormat("setup after rpm in: %s.\n", s.sourceDir.c_str()));

  // A new installation into /opt/tam makes /opt too, before its directories.
  if (s.upgradeMode == 0 && s.installDir == "/opt/tam") makePath(s.installDir);
  if (checkInstallDir(s.installDir) != 1) {
    logLine(strFormat("Could not find or create TAM directory : %s", s.installDir.c_str()));
    logLine("Sorry to quit the installation.");
    quitInstallation("the installation directory could not be made");
  }
  settlePPDInstallDir();
  confirmInstallDir();
  writeRecords();

  debugLine(strFormat("goInstall: Starting copy loop for %d items.\n", count));
  logLine(strFormat("goInstall: Starting copy loop for %d items.\n", count));
  const ManifestTable& table = manifestTable();
  std::string inherited;
  for (int i = 0; i < count && static_cast<std::size_t>(i) < table.size(); ++i) {
    showStep("Copying the product's files", static_cast<std::size_t>(i) + 1, static_cast<std::size_t>(count));
    copyEntry(i, table[static_cast<std::size_t>(i)], inherited, copyFromSource);
  }
  linkAndLabelFilter();
}
