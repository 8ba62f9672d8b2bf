// The version of the running CUPS, as a four-digit number (2420 is 2.4.2).
#pragma once

#include <string_view>

int detectCupsVersion();
int getCupsVersionFromHttp();
int getCupsVersionFromFiles();

// Scales a found version number to four digits (14 -> 1400, 24101 -> 2410).
long scaleToFourDigits(long value);
