// The setup flow. It reads top-down like the run itself: start-up, log,
// discovery of the host, the fitness decision, then one of the two branches.
// Every exit of its own goes through closeAndExit() with status 0.
#include "driver/setup_flow.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "discovery/command_locator.h"
#include "discovery/cups_dirs.h"
#include "discovery/cups_restart.h"
#include "discovery/cups_version.h"
#include "discovery/held_jobs.h"
#include "discovery/print_system.h"
#include "discovery/selinux.h"
#include "driver/command_line.h"
#include "driver/console.h"
#include "driver/host_changes.h"
#include "driver/run_account.h"
#include "driver/run_end.h"
#include "driver/run_lock.h"
#include "driver/settings.h"
#include "driver/status_line.h"
#include "driver/text.h"
#include "driver/update_log.h"
#include "install/file_ops.h"
#include "install/go_install.h"
#include "install/info_file.h"
#include "install/manifest.h"
#include "printers/ppd_locations.h"
#include "printers/ppd_restore.h"
#include "printers/printer_list.h"
#include "printers/printer_update.h"
#include "uninstall/file_removal.h"
#include "uninstall/queue_removal.h"

namespace {

// The queues of the run: filled from the information file or the CUPS ppd
// directory, walked by the update and the queue removal.
PrinterList printers;

std::string ctimeNow() {
  const std::time_t now = std::time(nullptr);
  const char* text = std::ctime(&now);
  return text ? text : "\n";
}

std::string abandonReason();

[[noreturn]] void closeAndExit() { endRun(); }

// Ends the run early, with the reason for its account.
[[noreturn]] void endEarly(const std::string& reason) {
  accountEarlyEnd(reason);
  closeAndExit();
}

// A final message goes to standard error with one more newline, then to the log.
[[noreturn]] void finish(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  logLine(text);
  closeAndExit();
}

std::string commandOrBareName(const char* name) { return locateCommand(name).value_or(name); }

void openLogAndStamp(char** argv) {
  SetupSettings& s = settings();
  s.logPath = s.preview ? "/var/log/Vela4.0_PreviewLog" : "/var/log/Vela4.0_UpdateLog";
  s.logOpen = UpdateLog::open(s.userId);
  s.cp = commandOrBareName("cp");
  s.rm = commandOrBareName("rm");
  s.gzip = commandOrBareName("gzip");
  s.lpadmin = commandOrBareName("lpadmin");
  s.lpstat = commandOrBareName("lpstat");
  logLine("Starting Vela 4.0-0 installation : " + ctimeNow());
  if (argv[0] != nullptr && argv[0][0] != '\0') findSourceDir(argv[0]);
}

void refuseForeignDirectory() {
  const SetupSettings& s = settings();
  if (s.anyDirectory == 0 && !startsWith(s.sourceDir, "/opt/tam") && s.deinstall == 0) {
    const std::string text = "Vela3.0 setup simulation, not from /opt/tam/bin.\nExiting.\n";
    logLine(text);
    std::fprintf(stderr, "%s\n", text.c_str());
    endEarly("not started from /opt/tam");
  }
}

void refuseNonRoot() {
  if (settings().userId == 0) return;
  debugLine("Must be root.\nExiting.\n");
  logLine("\n\n\tYou must be root to be able\n\tto install Vela!\n\n\tSorry!\n");
  endEarly("not run as root");
}

void detectPrintSystem() {
  SetupSettings& s = settings();
  int printSystem = getPrintSystemFromEnv();
  if (printSystem == 0) printSystem = probePrintSystem();
  s.printSystem = printSystem;
  logLine(std::string("System Scheduler = ") + printSystemName(printSystem) + "\n");
}

void decideFitness() {
  SetupSettings& s = settings();
  s.notCups = s.printSystem != kPrintSystemCups ? 1 : 0;
  if (s.notCups || s.foomaticMissing || !s.root) {
    s.abandoned = 1;
    reportAbandon();
  } else {
    s.abandoned = 0;
  }
}

void discoverCups() {
  SetupSettings& s = settings();
  if (s.printSystem == kPrintSystemCups) {
    logLine(strFormat("CUPS base dir: %s\n", s.cupsBaseDir.c_str()));
    logLine(strFormat("CUPS binary dir: %s\n", s.cupsBinDir.c_str()));
    s.cupsVersion = detectCupsVersion();
  }
  debugLine("Getting full system info.\n");
  if (s.printSystem == kPrintSystemCups) {
    s.cupsDataDir = getCupsDataDir().value_or("");
    s.lpadmin = locateCupsCommand("lpadmin").value_or("lpadmin");
    s.lpstat = locateCupsCommand("lpstat").value_or("lpstat");
    logLine(strFormat("lpadmin = %s\n", s.lpadmin.c_str()));
    logLine(strFormat("lpstat  = %s\n", s.lpstat.c_str()));
  }
}

void discoverPPDLocations() {
  SetupSettings& s = settings();
  std::string existingPPDDir;
  s.ppdLocationFlags = findPPDLocations(existingPPDDir);
  if (s.cupsModelDir.empty()) return;
  int linkCount = 0;
  scanModelLinks(linkCount);
  if (!s.cupsModelDir.empty()) choosePPDInstallDir(existingPPDDir, linkCount);
}

[[noreturn]] void deinstall() {
  SetupSettings& s = settings();
  int kind = -1;
  if (!findInfoFile(s.existingInstallDir, kind)) {
    std::fputs("No Vela installation found.\n", stderr);
    logLine("No Vela installation found.\n");
    std::fputs("*** Sorry ***\n", stderr);
    logLine("*** Sorry ***\n");
    endEarly("no Vela installation found");
  }
  // Queues and files alike are removed only from an installation directory.
  if (const std::string refusal = notAnInstallation(s.installDir); !refusal.empty()) {
    accountEarlyEnd("the installation directory was refused");
    finish(refusal);
  }
  std::string text = "Program abandoned by user.\n";
  if (askYesNo("Do you want to delete Vela and any possible Vela printer queues?\n") == kAnswerYes) {
    getInfoPrinters(kind, printers);
    logLine(strFormat("Number of Vela printers found: %d.", s.printerCount));
    removeQueues(printers);
    removeInstalledFiles(1);
    leaveCupsAlone("lpadmin removes the queues from the running scheduler");
    text = "Vela 4.0-0 has been un-installed from the system.\n";
  } else {
    accountEarlyEnd("abandoned by the administrator");
  }
  finish(text);
}

// I1 to I3: an earlier installation decides the upgrade mode and where the
// product lives.
void lookForEarlierInstallation() {
  SetupSettings& s = settings();
  int kind = -1;
  if (!findInfoFile(s.existingInstallDir, kind)) {
    logLine("New installation");
    return;
  }
  logLine(strFormat("Found an existing Vela 3.0 installation in the directory:\n%s.", s.existingInstallDir.c_str()));
  if (makeDir(s.existingInstallDir, 0, 0755) == -1) {
    logLine(strFormat("The installation directory:\n\t'%s'\ndoes not exist or is not OK.",
                      s.existingInstallDir.c_str()));
    return;
  }
  s.installDir = s.existingInstallDir;
  s.upgradeMode = kind == 1 ? 1 : kind == 2 ? 2 : 0;
  logLine(strFormat("Upgrade Mode = %d.\n", kind));
  logLine(strFormat("The installation directory:\n\t'%s'\nexists and is OK.", s.installDir.c_str()));
  getInfoPrinters(kind, printers);
  logLine(strFormat("Number of Vela printers found: %d.", s.printerCount));
  resetPList(printers);
}

void confirmInstallation() {
  SetupSettings& s = settings();
  if (s.query == 0) return;
  const char* question = s.upgradeMode == 1   ? "Would you like to update Vela 3.0 from Vela 2.0?"
                         : s.upgradeMode == 2 ? "Would you like to update Vela 4.0-0?"
                                              : "Would you like to install Vela 4.0-0?";
  if (askYesNo(question) != kAnswerYes) {
    accountEarlyEnd("abandoned by the administrator");
    finish("Program abandoned by user.\n");
  }
}

// The restore branch: each product queue gets its backup back; CUPS reads
// the PPDs again when one changed.
[[noreturn]] void restore() {
  SetupSettings& s = settings();
  if (s.notCups) endEarly("no running CUPS scheduler");
  int count = 0;
  getInstalledPrinters(printers, count);
  restorePrinters(printers, count, s.query);
  restartCups();
  closeAndExit();
}

[[noreturn]] void install() {
  SetupSettings& s = settings();
  lookForEarlierInstallation();
  if (!s.installDir.empty() && s.installDir.back() == '/') s.installDir.pop_back();

  int entries = getInfoData();
  if (entries <= 0) {
    logLine(strFormat("Vela 3.0 installation missing info:\n\t'%s/%s'.\nAbandon...", s.sourceDir.c_str(),
                      s.manifestName.c_str()));
    s.abandoned = 1;
    entries = 0;
  }
  if (s.abandoned) {
    logLine("Because of insufficient data, setup stopped.\n");
    endEarly(abandonReason());
  }
  confirmInstallation();
  goInstall(entries);

  int count = 0;
  showStep("Looking for the product's queues");
  getInstalledPrinters(printers, count);
  if (count > 0) updatePrinters(s.ppdInstallDir, printers, count, s.query);
  // One restart per run, after a change CUPS reads: the printer update has
  // made it or left CUPS alone unless it stopped early.
  if (!cupsRestartDone()) restartCups();
  closeAndExit();
}

// Why the host or the product data stopped the installation, in a few words.
std::string abandonReason() {
  const SetupSettings& s = settings();
  std::string reason;
  const auto add = [&reason](const char* part) { reason += (reason.empty() ? "" : ", ") + std::string(part); };
  if (s.notCups) add("no running CUPS scheduler");
  if (s.foomaticMissing) add("no foomatic-rip program");
  if (!s.root) add("not run as root");
  if (reason.empty()) add("installation data missing");
  return reason;
}

}  // namespace

void findSourceDir(const std::string& programPath) {
  SetupSettings& s = settings();
  std::string dir = programPath;
  if (startsWith(dir, "/")) {
    const std::size_t lastSlash = dir.rfind('/');
    if (lastSlash != 0) dir.resize(lastSlash);
  } else {
    char cwd[256];
    if (getcwd(cwd, sizeof cwd) != nullptr) dir = cwd;
  }
  if (dir == "/opt/tam/bin") dir = "/opt/tam";
  // A directory that does not fit its 256-byte field is refused, not cut.
  s.sourceDir = dir.size() <= kPathLimit ? dir : "";
  logLine(strFormat("Directory from which we install: '%s'.\n", s.sourceDir.c_str()));
}

void reportAbandon() {
  const SetupSettings& s = settings();
  logLine("Abandoned because:\n");
  if (s.notCups) logLine("* No running CUPS daemon found!\n");
  if (s.foomaticMissing) logLine("* No foomatic-rip program found!\n");
  if (!s.root) logLine("* You are not recognised as root!\n");
  logLine("*** Sorry ***\n");
}

void runSetup(int argc, char** argv) {
  SetupSettings& s = settings();
  initSettings();
  runAccount().started = isoTimeNow();
  firstOptionPass(argc, argv);
  startStatusLine(s.preview != 0);
  if (s.preview) startPreview();
  // Every run that changes the host waits here for any other; a preview
  // writes only files of its own, and a user other than root is refused.
  if (s.preview == 0 && s.userId == 0) takeRunLock();

  // Only an installation loads the product's SELinux module.
  if (s.deinstall == 0 && s.restore == 0 && s.selinux != 0) {
    std::fputs(".......\n", stderr);
    installSelinuxModule();
  }
  openLogAndStamp(argv);
  logLine(runLockWaitLine());
  releaseJobsHeldByEarlierRun();
  refuseForeignDirectory();

  s.installDir = "/opt/tam";
  s.manifestName = "VELAINST.CONF";
  logLine(strFormat("SELinux is running: %s.", s.selinux ? "Yes" : "No"));
  if (s.selinux) logLine("SELinux module vela.pp is installed.");
  resetPList(printers);
  s.foomaticMissing = findFoomaticRip() ? 0 : 1;
  s.root = s.userId == 0 ? 1 : 0;

  secondOptionPass(argc, argv);
  refuseNonRoot();
  debugLine("Root mode: getting printer manager.\n");

  detectPrintSystem();
  decideFitness();
  discoverCups();
  discoverPPDLocations();

  if (s.deinstall) deinstall();
  if (s.restore) restore();
  install();
}
