// Text helpers that keep the line and buffer limits of the installer's file
// formats while storing text in std::string.
#include "driver/text.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <vector>

std::optional<std::string> trimToLength(const std::optional<std::string>& text, std::size_t maxLength) {
  if (!text) return std::nullopt;
  std::string result = text->substr(0, maxLength);
  while (!result.empty() && (result.back() == ' ' || result.back() == '\n')) result.pop_back();
  return result;
}

int chopLineEnd(std::string& text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return 0;
}

void blankControlChars(std::string& text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 32) c = ' ';
  }
}

bool readLine255(std::FILE* file, std::string& line) {
  char buffer[256];
  buffer[0] = '\0';
  if (std::fgets(buffer, sizeof buffer, file) == nullptr) {
    line.clear();
    return false;
  }
  line.assign(buffer, strnlen(buffer, sizeof buffer));
  return true;
}

std::string strFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string result;
  if (needed > 0) {
    std::vector<char> buffer(static_cast<std::size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    result.assign(buffer.data(), static_cast<std::size_t>(needed));
  }
  va_end(args);
  return result;
}

unsigned secondsFromEnvironment(const char* name, unsigned most, unsigned fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  const long seconds = std::strtol(text, &end, 10);
  return *end == '\0' && seconds >= 0 && seconds <= static_cast<long>(most) ? static_cast<unsigned>(seconds) : fallback;
}
