// Yes/no questions on the console. An answer is one line of at most 255
// characters, recognised by key words in several languages or by its first
// letter.
#pragma once

#include <string>
#include <string_view>

enum Answer : int { kAnswerUnclear = -1, kAnswerNo = 0, kAnswerYes = 1, kAnswerAll = 2, kAnswerBreak = 3 };

// Reads one answer line; false at the end of standard input.
bool readAnswerLine(std::string& line);

// Classify an answer line as yes/no, or as yes/no/all/break.
int classifyYesNo(std::string_view line);
int classifyYesNoAllBreak(std::string_view line);

int readYesNo();
int readYesNoAllBreak();

int askYesNo(const std::string& question);
int askYesNoAllBreak(const std::string& question);
// Whether a question was put on the console in this run.
bool consoleAsked();
