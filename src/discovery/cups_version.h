// The version of the running CUPS, as a four-digit number (2420 is 2.4.2).
#pragma once

#include <optional>
#include <string>
#include <string_view>

int detectCupsVersion();
int getCupsVersionFromHttp();
int getCupsVersionFromFiles();

// Scales a found version number to four digits (14 -> 1400, 24101 -> 2410).
long scaleToFourDigits(long value);

// The digits of a version text starting at text, dots skipped, up to the
// first other character and at most 23 digits ("2.4.2op1" -> "242").
std::string collectVersionDigits(std::string_view text);

// A digit run as a number. Runs too long for an int keep their leading nine
// digits, which is all that four-digit scaling looks at.
long versionNumber(std::string_view digits);

// The version a scheduler's "Server:" answer line names, scaled to three
// digits ("Server: CUPS/2.4 IPP/2.1" -> 240); nothing when the line does not
// hold both "Server:" and "CUPS".
std::optional<int> versionFromServerLine(std::string_view line);

// The shell text that asks the scheduler on port 631 for its headers.
std::string httpProbeScript(const std::string& netcat, const std::string& outputFile);
