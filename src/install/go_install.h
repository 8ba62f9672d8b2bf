// The installation proper: directories, information file, uninstall script,
// the copy loop over the manifest, the filter link and its labels.
#pragma once

void goInstall(int count);
