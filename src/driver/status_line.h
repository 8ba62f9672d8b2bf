// The status line: when standard error is a terminal, one line at the bottom
// of what the run has written says what it is doing and how far it is, and
// moves on its own while a step waits. Everything else that reaches the
// terminal (messages, questions, debug lines, host commands' own output)
// clears it first, so the screen ends as it would without it. Without a
// terminal nothing here writes a byte.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Starts the line when standard error is a terminal and TERM is set and not
// "dumb"; a preview's line says so.
void startStatusLine(bool preview);
// Clears the line for good; the rest of the run writes as without it.
void endStatusLine();

// The step the run is in: what, "n of total" when total is above 0, and a
// detail such as the queue's name.
void showStep(std::string_view what, std::size_t n = 0, std::size_t total = 0, std::string_view detail = {});
// The wait for printing jobs before the CUPS restart: how many print, and
// the bound of the wait in seconds.
void showPrintingWait(int printing, unsigned boundSeconds);

// Called once a console answer is read: its echo has ended the prompt's line.
void statusAfterAnswer();

// Keeps the line off the terminal while it lives: for commands that may
// write there and start daemons that keep writing after them.
class StatusLineHidden {
 public:
  StatusLineHidden();
  ~StatusLineHidden();
  StatusLineHidden(const StatusLineHidden&) = delete;
  StatusLineHidden& operator=(const StatusLineHidden&) = delete;
};

// While it lives (around one host command), what the command writes on the
// terminal goes through the line's clearing point instead of straight to
// the terminal.
class CommandOutputRelay {
 public:
  explicit CommandOutputRelay(const std::string& command);
  ~CommandOutputRelay();
  CommandOutputRelay(const CommandOutputRelay&) = delete;
  CommandOutputRelay& operator=(const CommandOutputRelay&) = delete;

 private:
  int readEnd_ = -1;
};

// The line's text as drawn: cut to columns characters (UTF-8 sequences whole),
// control characters shown as "?".
std::string fitToColumns(std::string_view text, std::size_t columns);
