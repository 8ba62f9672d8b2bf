// The run's log, /var/log/Vela4.0_UpdateLog: opened once, one flushed line per
// message, standard error while it is not open, a finishing stamp on close.
#pragma once

#include <string>

class UpdateLog {
 public:
  // Opens (truncates) the log for the given user id. Returns 1 when open.
  static int open(int userId);
  // Writes text as one line, adding a newline only when it lacks one.
  static int write(const std::string& text);
  // Writes the finishing stamp and closes the file.
  static void close();
};

// Hands text to the log writer unless it is empty: what every subsystem calls.
void logLine(const std::string& text);

// Prints text on standard error when the debug level is above 0.
void debugLine(const std::string& text);
