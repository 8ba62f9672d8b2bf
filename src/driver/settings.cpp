// The single SetupSettings instance of the run.
#include "driver/settings.h"

SetupSettings& settings() {
  static SetupSettings instance;
  return instance;
}

bool assignPath(std::string& field, std::string_view value) {
  const bool fits = value.size() <= kPathLimit;
  field.assign(value.substr(0, kPathLimit));
  return fits;
}
