// The UNINSTALLVELA shell script left in the installation's etc directory.
#pragma once

void writeUninstallScript();
