// Fuzzes the PPD header readers: the model and version line readers on every
// line, and the 30-line scan of a queue PPD in a private CUPS ppd directory.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "printers/printer_list.h"

namespace {

void checkLine(const std::string& line) {
  unsigned pdlKind = 99;
  int modelId = 0;
  const std::optional<std::string> model = getModelName(line, pdlKind, modelId);
  if (line.find("*ModelName:") != std::string::npos) FUZZ_CHECK(pdlKind <= kPdlPxl);
  if (model) FUZZ_CHECK(modelId > 0 && model->size() <= line.size());
  const int version = getPPDVersion(line);
  FUZZ_CHECK(version >= -1 && version <= 9);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetupSettings& s = settings();
  s.cupsBaseDir = fuzz::scratchDir();
  s.ppdInstallDir = fuzz::scratchDir() + "/ppd";
  fuzz::writeInput(s.ppdInstallDir + "/none", "");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::quietLog();
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::FILE* stream = fuzz::readStream(text);
  if (stream == nullptr) return 0;
  std::string line;
  while (readLine255(stream, line)) checkLine(line);
  std::fclose(stream);

  fuzz::writeInput(fuzz::scratchDir() + "/etc/cups/ppd/queue.ppd", text);
  PrinterList list;
  int count = -1;
  getInstalledPrinters(list, count);
  FUZZ_CHECK(count == 0 || count == 1);
  if (count == 1) FUZZ_CHECK(list.head().queueName == "queue" && list.head().pdlKind != kPdlNone);
  return 0;
}
