// Placeholder for the PPD directory survey: finds nothing yet.
#include "printers/ppd_locations.h"

int findModelDir() { return 0; }
int findSystemPPDDir() { return 0; }
int findPPDLocations(std::string&) { return 0; }
int scanModelLinks(int& count) {
  count = 0;
  return 0;
}
int choosePPDInstallDir(const std::string&, int) { return 0; }
