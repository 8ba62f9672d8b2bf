// The queues that use one of the product's PPDs, and the new PPD for each.
#pragma once

#include <optional>
#include <string>
#include <vector>

enum PdlKind : unsigned { kPdlNone = 0, kPdlPostScript = 1, kPdlPcl = 2, kPdlPxl = 3 };

inline constexpr std::size_t kQueueNameLimit = 79;

struct PrinterEntry {
  std::string modelText;
  std::string ppdFile;
  std::string queueName;
  int modelId = 0;
  int index = 0;
  unsigned pdlKind = kPdlNone;
};

// A ring of queues whose head always exists and holds the first queue: an
// empty list and a list of one entry look alike, only the count tells them
// apart. entries[0] is the head; entries[i + 1] follows entries[i].
struct PrinterList {
  std::vector<PrinterEntry> entries{1};
  PrinterEntry& head() { return entries.front(); }
};

// Whether the entry is a copy CUPS keeps beside a queue's PPD (lab1.ppd.O)
// rather than the queue's own <queue>.ppd.
bool isCupsCopy(const PrinterEntry& printer);

void addPList(PrinterList& list, PrinterEntry entry);
int freePList(PrinterList& list);
int resetPList(PrinterList& list);

// Lists the queues of the CUPS ppd directory that use a product PPD.
int getInstalledPrinters(PrinterList& list, int& count);
// Reads the printers block of the information file of that kind; sets
// settings().printerCount.
int getInfoPrinters(int kind, PrinterList& list);

// Log reports of the listed queues and of the new PPD found for each.
void showPrinterList(PrinterList& list, int count);
void showNewPPDList(const std::string& ppdDir, PrinterList& list, int count);

// The model text of a "*ModelName:" line that names a supported model, or
// nothing. The PDL kind is written whenever the line is a model line, the
// model id only when the text is accepted.
std::optional<std::string> getModelName(const std::string& line, unsigned& pdlKind, int& modelId);
// The digit of a "*% Vela version:" line, or -1.
int getPPDVersion(const std::string& line);
// The accepted model text of a candidate PPD (gzip-compressed or not), or
// nothing. Each path is read at most once per run.
std::optional<std::string> getPPDModel(const std::string& path, unsigned& pdlKind, int& modelId);

// The first candidate in dir for the queue's model: 1 and its path, or 0.
int findPPDInDir(const std::string& dir, const PrinterEntry& printer, std::string& path);
int getPPDFromDir(const std::string& dir, const PrinterEntry& printer, std::string& path);
// The queue's new PPD: from ppdDir, else from /opt/tam/ppd.
int findNewPPD(const std::string& ppdDir, const PrinterEntry& printer, std::string& path);

// How many candidate PPDs this run has opened.
long candidateOpenCount();
