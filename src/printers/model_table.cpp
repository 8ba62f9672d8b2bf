// The model table is product data kept in model_table.def; this file turns
// the rows into the table that the printer list searches.
#include "printers/model_table.h"

namespace {

#define VELA_MODEL(name, id, pdl) ModelRow{name, id},
constexpr ModelRow kRows[] = {
#include "printers/model_table.def"
};
#undef VELA_MODEL

}  // namespace

std::span<const ModelRow> modelTable() { return kRows; }

int findModelId(std::string_view modelText) {
  for (const ModelRow& row : kRows) {
    if (modelText.find(row.name) != std::string_view::npos) return row.id;
  }
  return 0;
}
