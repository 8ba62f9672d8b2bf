// Where CUPS lives on this host: the root of its programs, the root of its
// configuration, and its data directory.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

// Sets the CUPS binary and base directories from the running scheduler's
// command text.
void setCupsDirs(std::string commandText);

// The root of the scheduler's path in text ("/usr" for "/usr/sbin/cupsd -l"),
// or nothing. Cuts text in place, as the start-up probe expects.
std::optional<std::string> getCupsdPrefix(std::string& text);

// Reads prefix= and exec_prefix= from the CUPS start-up script, with the
// fallback to the usual layout. Returns 1 on success, 0 on failure.
int getCupsPrefixes(std::string& prefix, std::string& execPrefix);

// The prefix= and exec_prefix= values of one open start-up script. Returns 1
// when either was found, 0 when the fallback has to decide.
int readCupsPrefixes(std::FILE* script, std::string& prefix, std::string& execPrefix);

// The first CUPS data directory that exists, or nothing.
std::optional<std::string> getCupsDataDir();
