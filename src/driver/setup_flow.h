// The installer's main sequence: discovery, the fitness decision, then the
// installation with the printer update, or the de-installation.
#pragma once

#include <string>

// Runs the whole installer; every path of its own ends with status 0.
[[noreturn]] void runSetup(int argc, char** argv);

// Sets the source directory from the program's own path.
void findSourceDir(const std::string& programPath);

// Writes why the host is unfit for installation.
void reportAbandon();
