// Directory and link routines of the installation, used by other subsystems
// too.
#pragma once

#include <string>

// 1 created now, 0 already a directory, -1 otherwise. create 0 only tests.
int makeDir(const std::string& path, int create, int mode);

// Creates every directory along path.
void makePath(const std::string& path);

// 1 when path exists and is a directory.
int isDirectory(const std::string& path);

// Symbolic link linkName -> target, never replacing anything; 0 or -1.
int linkFile(const std::string& target, const std::string& linkName);

// Makes sure dir, dir/bin and dir/etc exist; 1 when they do.
int checkInstallDir(const std::string& dir);

// Mode of the directories the installer makes for the product and the
// destinations of its files: never world writable, since the product's
// programs are run by root and by CUPS.
int installDirMode();
