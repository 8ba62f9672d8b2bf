// Placeholders for installation routines not built yet: each reports that it
// found or did nothing.
#include "install/go_install.h"
#include "install/info_file.h"
#include "install/manifest.h"
#include "install/ppd_archive.h"
#include "install/uninstall_script.h"

ManifestTable& manifestTable() {
  static ManifestTable table;
  return table;
}
int getInfoData() { return 0; }
void goInstall(int) {}
int findInfoFile(std::string&, int& kind) {
  kind = -1;
  return 0;
}
void writeInfoFile() {}
void upgradeInfoFile() {}
void writeUninstallScript() {}
int savePPDFiles(const std::string&) { return -1; }
