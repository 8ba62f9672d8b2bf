// The one run-wide record of the installer: paths, flags, command paths and
// everything discovery finds. Every subsystem reads and fills the same
// instance, reached through settings().
#pragma once

#include <string>
#include <string_view>

// Texts that stood in 256-byte buffers keep that limit: at most 255 characters.
inline constexpr std::size_t kPathLimit = 255;

// Spooler codes of the host.
enum PrintSystem : int {
  kPrintSystemUnknown = 0,
  kPrintSystemLp = 1,
  kPrintSystemLpr = 2,
  kPrintSystemLprng = 4,
  kPrintSystemCups = 8,
};

struct SetupSettings {
  int userId = 0;
  int groupId = 0;
  int selinux = 0;
  int deinstall = 0;
  int anyDirectory = 1;
  int debugLevel = 0;
  int query = 0;
  int preview = 0;  // -n: report what a run would do, change nothing
  int restore = 0;  // -r: swap each product queue's PPD with its backup

  std::string sourceDir;
  std::string installDir = "/opt/tam";
  std::string manifestName = "VELAINST.CONF";
  std::string existingInstallDir;
  std::string logPath;
  int logOpen = 0;

  int printSystem = kPrintSystemUnknown;
  int notCups = 0;
  int foomaticMissing = 0;
  int root = 0;
  int abandoned = 0;
  int upgradeMode = 0;

  std::string cupsBaseDir;
  std::string cupsBinDir;
  // "/etc/cups/" until the flow asks for the data directory; empty when a
  // CUPS host has none.
  std::string cupsDataDir = "/etc/cups/";
  std::string cupsModelDir;
  std::string ppdInstallDir;
  int ppdLocationFlags = 0;
  int cupsVersion = 1000;

  // Command paths: a full path, the bare name, or empty for absent.
  std::string cp;
  std::string rm;
  std::string gzip;
  std::string lpadmin;
  std::string lpstat;
  std::string selinuxenabled;
  std::string chcon;

  // Number of queue names the last getInfoPrinters read.
  int printerCount = 0;
};

SetupSettings& settings();

// Puts value into a path field, cut to the field's limit. Returns false when
// the value did not fit.
bool assignPath(std::string& field, std::string_view value);
