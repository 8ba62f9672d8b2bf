// Answer classification of the console questions.
#include "driver/console.h"

#include <gtest/gtest.h>

TEST(Console, ClassifiesYesNoAnswers) {
  const struct { const char* answer; int code; } cases[] = {
      {"Y", 1},  {"y", 1},    {"yes", 1},   {"OUI", 1},    {"Ja", 1},  {"si", 1},   {"o", 1},  {"s", 1},
      {"n", 0},  {"no", 0},   {"NEIN", 0},  {"niente", 0}, {"non", 0}, {"nosi", 1}, {"j", -1}, {"all", -1},
      {"b", -1}, {"x", -1},   {"\n", -1},   {"", -1},      {"Maybe", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(classifyYesNo(c.answer), c.code) << c.answer;
}

TEST(Console, ClassifiesFourWayAnswers) {
  const struct { const char* answer; int code; } cases[] = {
      {"a", 2},     {"t", 2},   {"all", 2},     {"Tutti", 2}, {"todas", 2}, {"toutes", 2},
      {"b", 3},     {"break", 3}, {"yes all", 1}, {"n", 0},     {"x", -1},    {"\n", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(classifyYesNoAllBreak(c.answer), c.code) << c.answer;
}
