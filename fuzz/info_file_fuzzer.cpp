// Fuzzes the information file readers: the USRDIR value that finds an
// earlier installation and the queue names of the printers block.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "install/info_file.h"
#include "printers/printer_list.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const std::string path = fuzz::scratchDir() + "/velaInfo4.0";
  setenv("VELAINFO", path.c_str(), 1);
  settings().installDir = fuzz::scratchDir();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::quietLog();
  const std::string text(reinterpret_cast<const char*>(data), size);
  fuzz::writeInput(fuzz::scratchDir() + "/velaInfo4.0", text);

  std::string usrdir;
  int kind = 0;
  if (findInfoFile(usrdir, kind) == 1) {
    FUZZ_CHECK(kind == 1 || kind == 2);
    FUZZ_CHECK(usrdir.size() < 256 && usrdir.find('\n') == std::string::npos);
  }

  PrinterList list;
  settings().printerCount = 0;
  if (getInfoPrinters(2, list) == 1) {
    const int count = settings().printerCount;
    FUZZ_CHECK(count >= 0);
    FUZZ_CHECK(list.entries.size() == static_cast<std::size_t>(count > 0 ? count : 1));
    for (const PrinterEntry& entry : list.entries) FUZZ_CHECK(entry.queueName.size() <= kQueueNameLimit);
  }
  return 0;
}
