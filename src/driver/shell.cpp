// Shell access for the installer: every external command runs through
// system(), and every value that comes from a file, a directory entry or the
// command line goes in as one literal word.
#include "driver/shell.h"

#include <cstdio>
#include <cstdlib>

int runShell(const std::string& command) {
  std::fflush(nullptr);  // keep our own output ahead of the command's
  return std::system(command.c_str());
}

static bool isPlainShellChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' || c == '.' ||
         c == '_' || c == '-' || c == '+' || c == ',' || c == ':' || c == '@' || c == '%' || c == '=';
}

std::string shellWord(std::string_view value) {
  bool plain = !value.empty();
  for (char c : value) plain = plain && isPlainShellChar(c);
  // A leading '=' or '-' is fine for the shell; the commands get full paths.
  if (plain) return std::string(value);
  std::string quoted = "'";
  for (char c : value) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  quoted += "'";
  return quoted;
}
