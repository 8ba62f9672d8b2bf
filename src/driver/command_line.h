// The command line of setup: start-up values, the two passes over the
// options, and the usage text.
#pragma once

// Empties the settings, finds selinuxenabled and chcon, reads the ids and
// probes SELinux.
void initSettings();

// First pass: -S, -d, -f, -n, -r and -h act; -h prints the usage and exits 0.
void firstOptionPass(int argc, char** argv);

// Second pass: -D/-Z, -i, -q, -u act; -m and -w are accepted and ignored.
void secondOptionPass(int argc, char** argv);

void printUsage();
