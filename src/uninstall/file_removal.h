// Removing the product's files and directories on de-installation.
#pragma once

#include <string>

// Removes (remove != 0) or only reports the product's files and its four
// directories, one log line each. 0 when the installation directory cannot
// be entered or is not an installation (see notAnInstallation), else 1.
int removeInstalledFiles(int remove);

// Removes path and everything below it, never following a symbolic link
// into another directory; devices, pipes, sockets and dangling links stay.
// -1 when path is missing or not a directory it can open, else the result
// of removing path itself (0, or -1 when anything was left).
int removeTree(const std::string& path);

// Empty when dir is an installation of the product: not / and holding a
// velaInfo4.0 or velaInfo2.0 file. Otherwise the log line that says why
// nothing is removed from it.
std::string notAnInstallation(const std::string& dir);

// True when path names an entry, a dangling symbolic link included.
bool entryExists(const std::string& path);
