// Small text routines shared by the subsystems: line trimming, control
// character blanking, bounded line reads and printf-style formatting into a
// std::string.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

// Cuts text at maxLength, then drops trailing blanks and newlines (carriage
// returns and tabs stay). Absent in, absent out.
std::optional<std::string> trimToLength(const std::optional<std::string>& text, std::size_t maxLength);

// Drops every trailing newline, carriage return and blank. Always returns 0.
int chopLineEnd(std::string& text);

// Replaces every byte below 32 by a blank.
void blankControlChars(std::string& text);

// Reads one line the way fgets with a 256-byte buffer does: at most 255
// characters, the newline kept when it fits. The text ends at the first NUL
// byte read, as a C string would. Returns false at end of file or on error.
bool readLine255(std::FILE* file, std::string& line);

// printf into a std::string.
std::string strFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A bound in seconds from the environment variable `name`: its value when it
// is a whole number from 0 to `most`, else `fallback`.
unsigned secondsFromEnvironment(const char* name, unsigned most, unsigned fallback);

inline bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}
inline bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}
