// Removing the product's files and directories on de-installation.
#pragma once

#include <string>

int removeInstalledFiles(int remove);
int removeTree(const std::string& path);
