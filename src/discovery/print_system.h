// Which spooler the host runs, and whether foomatic-rip is there.
#pragma once

// The print system named by KORLPMODE or VELALPMODE, 0 when none decides.
int getPrintSystemFromEnv();

// The print system seen in the process list and in "lpd -V"; may set the CUPS
// directories from the running scheduler's command text.
int probePrintSystem();

// 1 when foomatic-rip exists in one of its usual places.
int findFoomaticRip();

// The name of a print system code as the log writes it: "LP", "LPR",
// "LPRNG", "CUPS", or "Unknown" for any other code.
const char* printSystemName(int printSystem);
