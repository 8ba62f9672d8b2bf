// Console questions: print the question and its hint, read one line, and
// classify it. The question is never repeated; the caller decides what an
// unclear answer means.
#include "driver/console.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <initializer_list>

#include "driver/settings.h"
#include "driver/status_line.h"
#include "driver/text.h"

namespace {

std::string lowerCase(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return result;
}

bool holdsAny(const std::string& line, std::initializer_list<std::string_view> words) {
  return std::any_of(words.begin(), words.end(), [&](std::string_view w) { return contains(line, w); });
}

// Key words first (yes before no, so "nosi" is yes), then the first letter.
int classify(std::string_view answer, bool fourWay) {
  const std::string line = lowerCase(answer);
  if (holdsAny(line, {"yes", "oui", "ja", "si"})) return kAnswerYes;
  if (holdsAny(line, {"no", "nein", "niente"})) return kAnswerNo;
  if (fourWay && holdsAny(line, {"all", "tou", "toda", "tut"})) return kAnswerAll;
  const char first = answer.empty() ? '\0' : static_cast<char>(std::toupper(static_cast<unsigned char>(answer[0])));
  switch (first) {
    case 'O':
    case 'S':
    case 'Y':
      return kAnswerYes;
    case 'N':
      return kAnswerNo;
    case 'A':
    case 'T':
      return fourWay ? kAnswerAll : kAnswerUnclear;
    case 'B':
      return fourWay ? kAnswerBreak : kAnswerUnclear;
    default:
      return kAnswerUnclear;
  }
}

}  // namespace

bool readAnswerLine(std::string& line) {
  const bool read = readLine255(stdin, line);
  statusAfterAnswer();
  if (!read) return false;
  // Line ends go, but never the first character: a bare newline stays.
  while (line.size() > 1 && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return true;
}

int classifyYesNo(std::string_view line) { return classify(line, false); }
int classifyYesNoAllBreak(std::string_view line) { return classify(line, true); }

int readYesNo() {
  std::string line;
  return readAnswerLine(line) ? classifyYesNo(line) : kAnswerUnclear;
}

int readYesNoAllBreak() {
  std::string line;
  return readAnswerLine(line) ? classifyYesNoAllBreak(line) : kAnswerUnclear;
}

namespace {
bool asked = false;
}  // namespace

bool consoleAsked() { return asked; }

// A preview asks nothing: it shows the run that answers yes (all).
int askYesNo(const std::string& question) {
  if (settings().preview) return kAnswerYes;
  asked = true;
  std::printf("%s\n%s ", question.c_str(), "Answer with y[es] or n[o], followed by <RETURN> please.");
  std::fflush(stdout);
  return readYesNo();
}

int askYesNoAllBreak(const std::string& question) {
  if (settings().preview) return kAnswerAll;
  asked = true;
  std::printf("%s\n%s ", question.c_str(),
              "Answer with y[es], n[o], or a[ll] = 'yes' for all printers,\nor b[reak] for none, followed by <RETURN> "
              "please.");
  std::fflush(stdout);
  return readYesNoAllBreak();
}

bool askForQueue(const std::string& question, int& query, bool& stop) {
  if (!query) return true;
  switch (askYesNoAllBreak(question)) {
    case kAnswerAll:
      query = 0;
      return true;
    case kAnswerBreak:
      stop = true;
      return false;
    case kAnswerNo:
      return false;
    default:
      return true;
  }
}
