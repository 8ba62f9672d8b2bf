// Where PPD files live on this host, and where the product's PPDs go.
#pragma once

#include <string>

int findModelDir();
int findSystemPPDDir();
// Returns the PPD location flags; fills existingPPDDir with a product PPD
// directory already present.
int findPPDLocations(std::string& existingPPDDir);
int scanModelLinks(int& count);
int choosePPDInstallDir(const std::string& existingPPDDir, int linkCount);
