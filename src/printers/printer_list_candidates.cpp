// Finding the product's new PPD for a queue among the candidate PPDs of a
// directory. Candidates may be gzip-compressed, so they are read through
// libcups. The listing and the update each search once per queue; every
// candidate's model line is read only the first time and remembered for the
// rest of the run, since the run never changes the candidate directories
// after installing them. The directories are listed and read through the
// run's HostChanges, so that a preview sees the PPDs the run would have
// copied there.
#include "printers/printer_list.h"

#include <cups/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "driver/host_changes.h"
#include "driver/regular_file.h"
#include "driver/settings.h"
#include "driver/text.h"
#include "driver/update_log.h"

namespace {

// What reading one candidate gave: the accepted model text with its kind and
// id, and the kind of the last model line when none was accepted.
struct CandidateModel {
  bool opened = false;
  std::optional<std::string> text;
  std::optional<unsigned> pdlKind;
  int modelId = 0;
};

long candidateOpens = 0;

std::unordered_map<std::string, CandidateModel>& candidateCache() {
  static std::unordered_map<std::string, CandidateModel> cache;
  return cache;
}

void reportCandidateOpens() {
  debugLine(strFormat("Candidate PPD opens: %ld\n", candidateOpens));
}

void countCandidateOpen() {
  static const bool registered = std::atexit(reportCandidateOpens) == 0;
  (void)registered;
  ++candidateOpens;
}

// Opens path through libcups when it is a regular file: a pipe or device
// among the candidates must not stall the run.
cups_file_t* openCandidate(const std::string& path) {
  const int fd = openRegularFd(path);
  if (fd < 0) return nullptr;
  countCandidateOpen();
  cups_file_t* file = cupsFileOpenFd(fd, "r");
  if (file == nullptr) ::close(fd);
  return file;
}

// Reads the candidate up to its first accepted model line.
CandidateModel readCandidate(const std::string& path) {
  CandidateModel result;
  cups_file_t* file = openCandidate(host().readablePath(path));
  if (file == nullptr) return result;
  result.opened = true;

  char line[256];
  while (!cupsFileEOF(file) && cupsFileGets(file, line, sizeof line) != nullptr) {
    unsigned pdlKind = kPdlNone;
    int modelId = 0;
    const std::string text = line;
    std::optional<std::string> model = getModelName(text, pdlKind, modelId);
    if (contains(text, "*ModelName:")) result.pdlKind = pdlKind;
    if (model) {
      result.text = std::move(model);
      result.modelId = modelId;
      break;
    }
  }
  cupsFileClose(file);
  return result;
}

// A candidate fits the queue when model id and kind agree and its model text
// begins with the queue's.
bool fitsQueue(const std::string& candidateText, unsigned pdlKind, int modelId, const PrinterEntry& printer) {
  return modelId == printer.modelId && pdlKind == printer.pdlKind &&
         candidateText.compare(0, printer.modelText.size(), printer.modelText) == 0;
}

}  // namespace

long candidateOpenCount() { return candidateOpens; }

// The model text of a candidate PPD, read once per run.
std::optional<std::string> getPPDModel(const std::string& path, unsigned& pdlKind, int& modelId) {
  auto [slot, isNew] = candidateCache().try_emplace(path);
  if (isNew) slot->second = readCandidate(path);
  const CandidateModel& model = slot->second;
  if (!model.opened) {
    std::fprintf(stderr, "Unable to open '%s'!\n", path.c_str());
    return std::nullopt;
  }
  if (model.pdlKind) pdlKind = *model.pdlKind;
  if (model.text) modelId = model.modelId;
  return model.text;
}

// The first candidate of dir, in directory order, that fits the queue.
int findPPDInDir(const std::string& dir, const PrinterEntry& printer, std::string& path) {
  int found = 0;
  for (const std::string& name : host().listDirectory(dir)) {
    const std::string candidate = dir + "/" + name;
    if (candidate.size() > kPathLimit) continue;  // could not be handed on whole
    unsigned pdlKind = kPdlNone;
    int modelId = 0;
    const std::optional<std::string> text = getPPDModel(candidate, pdlKind, modelId);
    if (text && fitsQueue(*text, pdlKind, modelId, printer)) {
      path = candidate;
      found = 1;
      break;
    }
  }
  return found;
}

// findPPDInDir after logging the directory and making sure it exists.
int getPPDFromDir(const std::string& dir, const PrinterEntry& printer, std::string& path) {
  logLine(strFormat("Getting PPD from directory: %s\n", dir.c_str()));
  if (!host().exists(dir)) return 0;
  return findPPDInDir(dir, printer, path);
}

// The queue's new PPD: the PPD installation directory first, then the
// product's own ppd directory.
int findNewPPD(const std::string& ppdDir, const PrinterEntry& printer, std::string& path) {
  if (getPPDFromDir(ppdDir, printer, path)) return 1;
  return getPPDFromDir("/opt/tam/ppd", printer, path);
}
