// Restarting the CUPS scheduler with whatever service manager the host has.
#pragma once

// Returns the status of the last attempt, 0 when a restart succeeded.
int restartCups();
