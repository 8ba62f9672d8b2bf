// Running host commands through the shell, and putting values into command
// lines so that the shell reads each as one literal word.
#pragma once

#include <string>
#include <string_view>

// Runs command with system(); returns the raw wait status (0 is success, -1
// when no shell could be run).
int runShell(const std::string& command);

// A value as one shell word: unchanged when it holds only characters the
// shell never interprets, single-quoted otherwise.
std::string shellWord(std::string_view value);
