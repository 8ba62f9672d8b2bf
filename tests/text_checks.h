// Checks of texts that the behaviour tests share: a log, a console, a report
// holds a part, so many times, or parts in order.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

inline bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

inline std::size_t countOf(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Each part found in text after the end of the one before.
inline void expectInOrder(const std::string& text, const std::vector<std::string>& parts) {
  std::size_t at = 0;
  for (const std::string& part : parts) {
    ASSERT_NE(at = text.find(part, at), std::string::npos) << "missing, or out of order: \"" << part << "\" in:\n" << text;
    at += part.size();
  }
}
