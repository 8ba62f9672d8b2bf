// The built-in table of supported models: which model text belongs to which
// Marlo model id.
#pragma once

#include <span>
#include <string_view>

inline constexpr std::size_t kModelNameLimit = 28;

struct ModelRow {
  std::string_view name;
  int id;
};

// Every row in search order.
std::span<const ModelRow> modelTable();

// The id of the first row whose name occurs in modelText, or 0 when none does.
int findModelId(std::string_view modelText);
