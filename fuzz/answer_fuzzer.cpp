// Fuzzes the console answer reader and classifiers with arbitrary input lines.
#include <cstdint>
#include <cstdio>
#include <string>

#include "driver/console.h"
#include "driver/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const int yesNo = classifyYesNo(text);
  const int fourWay = classifyYesNoAllBreak(text);
  if (yesNo < -1 || yesNo > 1 || fourWay < -1 || fourWay > 3) __builtin_trap();

  std::FILE* file = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  if (file == nullptr) return 0;
  std::string line;
  while (readLine255(file, line)) {
    if (line.size() > 255) __builtin_trap();
    chopLineEnd(line);
    blankControlChars(line);
    trimToLength(line, 256);
  }
  std::fclose(file);
  return 0;
}
