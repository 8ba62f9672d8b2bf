// Answer classification of the console questions: 1 yes, 0 no, 2 all, 3 break, -1 unclear.
#include "driver/console.h"

#include <gtest/gtest.h>

TEST(Console, ClassifiesYesNoAndFourWayAnswers) {
  const struct { const char* answer; int yesNo, fourWay; } cases[] = {
      {"Y", 1, 1}, {"y", 1, 1}, {"yes", 1, 1}, {"OUI", 1, 1}, {"Ja", 1, 1}, {"si", 1, 1}, {"o", 1, 1}, {"s", 1, 1},
      {"nosi", 1, 1}, {"yes all", 1, 1}, {"n", 0, 0}, {"no", 0, 0}, {"NEIN", 0, 0}, {"niente", 0, 0}, {"non", 0, 0},
      {"a", -1, 2}, {"t", -1, 2}, {"all", -1, 2}, {"Tutti", -1, 2}, {"todas", -1, 2}, {"toutes", -1, 2}, {"b", -1, 3},
      {"break", -1, 3}, {"j", -1, -1}, {"x", -1, -1}, {"\n", -1, -1}, {"", -1, -1}, {"Maybe", -1, -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(classifyYesNo(c.answer), c.yesNo) << c.answer;
    EXPECT_EQ(classifyYesNoAllBreak(c.answer), c.fourWay) << c.answer;
  }
}
