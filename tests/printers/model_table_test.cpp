// The model table's stated shape: 312 rows, names of at most 28 characters,
// ids 1 to 311 with two of them on two rows each, first match wins.
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "printers/model_table.h"

TEST(ModelTable, HasTheStatedShape) {
  const auto rows = modelTable();
  ASSERT_EQ(rows.size(), 312u);

  std::set<std::string_view> names;
  std::map<int, int> rowsPerId;
  std::size_t longest = 0;
  for (const ModelRow& row : rows) {
    EXPECT_FALSE(row.name.empty());
    EXPECT_LE(row.name.size(), kModelNameLimit) << row.name;
    EXPECT_EQ(row.name.find('"'), std::string_view::npos) << row.name;
    EXPECT_TRUE(names.insert(row.name).second) << "repeated name " << row.name;
    EXPECT_GE(row.id, 1);
    EXPECT_LE(row.id, 311);
    ++rowsPerId[row.id];
    longest = std::max(longest, row.name.size());
  }
  EXPECT_EQ(longest, kModelNameLimit);
  EXPECT_EQ(rowsPerId.begin()->first, 1);
  EXPECT_EQ(rowsPerId.rbegin()->first, 311);
  int twice = 0;
  for (const auto& [id, n] : rowsPerId) {
    EXPECT_LE(n, 2) << "id " << id;
    twice += n == 2;
  }
  EXPECT_EQ(twice, 2);
}

// Every model text finds its own row unless an earlier row's name is part of
// it; both orders occur in the table.
TEST(ModelTable, FirstMatchInTableOrderWins) {
  const auto rows = modelTable();
  int shadowed = 0;
  int longerFirst = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::string text = "\"Marlo " + std::string(rows[i].name) + " PS\"";
    std::size_t firstMatch = rows.size();
    for (std::size_t j = 0; j < rows.size() && firstMatch == rows.size(); ++j) {
      if (text.find(rows[j].name) != std::string::npos) firstMatch = j;
    }
    EXPECT_EQ(findModelId(text), rows[firstMatch].id) << text;
    if (firstMatch < i) ++shadowed;
    for (std::size_t j = i + 1; j < rows.size(); ++j) {
      if (rows[i].name.find(rows[j].name) != std::string_view::npos) ++longerFirst;
    }
  }
  EXPECT_EQ(shadowed, 2);
  EXPECT_GT(longerFirst, 100);
}

TEST(ModelTable, CaseSensitiveSubstring) {
  const int tessel = findModelId("Tessel 1200dn");
  ASSERT_NE(tessel, 0);
  EXPECT_EQ(findModelId("*ModelName: \"Marlo Tessel 1200dn PCL\""), tessel);
  EXPECT_EQ(findModelId("Marlo tessel 1200dn PCL"), 0);
  EXPECT_EQ(findModelId("Marlo Orla 60 Pro PS"), findModelId("Orla 60"));
  EXPECT_EQ(findModelId("Acme Writer 9 PS"), 0);
  EXPECT_EQ(findModelId(""), 0);
}
