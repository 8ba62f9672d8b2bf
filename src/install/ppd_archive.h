// The tar archive of the old PPD directory kept before an upgrade.
#pragma once

#include <string>

int savePPDFiles(const std::string& dir);
