// Running host commands through the shell, and putting values into command
// lines so that the shell reads each as one literal word.
#pragma once

#include <string>
#include <string_view>

// Runs command with system(); returns the raw wait status (0 is success, -1
// when no shell could be run).
int runShell(const std::string& command);

// Runs a command that changes the host (copies, archives, labels, queue and
// scheduler commands). A preview runs none of them: it reports the command
// and takes it as done (0). Commands that only look (probes, version
// queries, work on the run's own private files) use runShell.
int runHostCommand(const std::string& command);

// Runs a command that changes the host as runHostCommand does, but for at
// most seconds, as runShellBounded runs it.
int runHostCommandBounded(const std::string& command, unsigned seconds, bool& gaveUp);

// Runs command like runShell, but for at most seconds: then the shell and
// everything it started are killed. Returns the raw wait status, or -1 when
// no shell could be run or it was given up (gaveUp is then set).
int runShellBounded(const std::string& command, unsigned seconds, bool& gaveUp);

// A value as one shell word: unchanged when it holds only characters the
// shell never interprets, single-quoted otherwise.
std::string shellWord(std::string_view value);
