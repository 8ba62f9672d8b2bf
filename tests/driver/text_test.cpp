// The shared text routines and the shell word quoting.
#include "driver/shell.h"
#include "driver/text.h"

#include <gtest/gtest.h>

#include <cstdio>

TEST(LineEnds, TrimToLengthAndChopLineEndDropOnlyWhatTheyShould) {
  struct { std::string in; std::size_t max; std::string trimmed, chopped; } cases[] = {
      {"ab  \n", 256, "ab", "ab"},       {"abcdef", 3, "abc", "abcdef"}, {"   ", 256, "", ""},
      {"ab\r\n", 256, "ab\r", "ab"},    {"a\t \n", 256, "a\t", "a\t"}, {" a", 256, " a", " a"},
  };
  for (auto& c : cases) {
    EXPECT_EQ(trimToLength(c.in, c.max), c.trimmed) << c.in;
    EXPECT_EQ(chopLineEnd(c.in), 0);
    EXPECT_EQ(c.in, c.chopped);
  }
  EXPECT_FALSE(trimToLength(std::nullopt, 10).has_value());
}

TEST(ReadLine255, ReadsAtMost255CharactersAndStopsAtNul) {
  std::string content = std::string(300, 'x') + "\nab\n" + '\0' + "rest\n", line;
  std::FILE* file = fmemopen(content.data(), content.size(), "r");
  ASSERT_NE(file, nullptr);
  for (const std::string& expected :  // a line that starts with NUL reads as nothing
       {std::string(255, 'x'), std::string(45, 'x') + "\n", std::string("ab\n"), std::string()}) {
    ASSERT_TRUE(readLine255(file, line));
    EXPECT_EQ(line, expected);
  }
  EXPECT_FALSE(readLine255(file, line));
  std::fclose(file);
}

TEST(ShellWord, LeavesPlainValuesAndQuotesTheRestAsOneLiteralWord) {
  const struct { std::string in, out; } cases[] = {
      {"/etc/cups/ppd/lab1.ppd", "/etc/cups/ppd/lab1.ppd"}, {"lab 1", "'lab 1'"},
      {"x;touch /pwned.ppd", "'x;touch /pwned.ppd'"},       {"$(id).ppd", "'$(id).ppd'"},
      {"it's", "'it'\\''s'"},                               {"`id`", "'`id`'"},
      {"*", "'*'"},                                         {"", "''"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(shellWord(c.in), c.out) << c.in;
    std::FILE* pipe = popen(("printf %s " + shellWord(c.in)).c_str(), "r");  // which gives the word back unchanged
    ASSERT_NE(pipe, nullptr);
    char buffer[128] = {};
    const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, pipe);
    pclose(pipe);
    EXPECT_EQ(std::string(buffer, n), c.in);
  }
}
