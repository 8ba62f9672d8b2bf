// Fuzzes the CUPS version readers: digit runs of a version text, their
// number and four-digit scaling, and the scheduler's HTTP answer lines.
#include <cstdint>
#include <string>

#include "discovery/cups_version.h"
#include "fuzz_support.h"

namespace {

void checkDigits(std::string_view text) {
  const std::string digits = collectVersionDigits(text);
  FUZZ_CHECK(digits.size() <= 23 && digits.find_first_not_of("0123456789") == std::string::npos);
  const long number = versionNumber(digits);
  FUZZ_CHECK(number >= 0 && number <= 999999999);
  const long scaled = scaleToFourDigits(number);
  FUZZ_CHECK(scaled >= 0 && scaled <= 9999);
  FUZZ_CHECK(number == 0 || scaled >= 1000);
  FUZZ_CHECK(versionNumber(text) >= 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  checkDigits(text);
  if (size >= sizeof(long)) {
    long value = 0;
    __builtin_memcpy(&value, data, sizeof value);
    const long scaled = scaleToFourDigits(value);
    FUZZ_CHECK(scaled <= 9999 && (value < 1 || scaled >= 1000));
  }

  std::FILE* answer = fuzz::readStream(text);
  if (answer == nullptr) return 0;
  std::string line;
  while (readLine255(answer, line)) {
    if (const std::optional<int> version = versionFromServerLine(line)) FUZZ_CHECK(*version >= 0);
  }
  std::fclose(answer);
  return 0;
}
