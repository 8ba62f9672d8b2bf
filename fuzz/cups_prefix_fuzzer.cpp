// Fuzzes the CUPS directory readers: the scheduler's command text from the
// process list, and the prefix lines of a start-up script.
#include <cstdint>
#include <string>

#include "discovery/cups_dirs.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string command = text;
  if (const std::optional<std::string> root = getCupsdPrefix(command)) {
    FUZZ_CHECK(root->size() <= kPathLimit && command.size() <= text.size());
    FUZZ_CHECK(command.compare(command.size() - root->size(), root->size(), *root) == 0);
  }

  std::FILE* script = fuzz::readStream(text);
  if (script == nullptr) return 0;
  std::string prefix;
  std::string execPrefix;
  const int found = readCupsPrefixes(script, prefix, execPrefix);
  FUZZ_CHECK(found == 0 || found == 1);
  FUZZ_CHECK(prefix.size() < 256 && execPrefix.size() < 256);
  FUZZ_CHECK(prefix.find('\n') == std::string::npos && execPrefix.find('\n') == std::string::npos);
  std::fclose(script);
  return 0;
}
