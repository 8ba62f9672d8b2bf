// PPD directory discovery. Distributions keep PPD files in different trees
// and CUPS finds them through its model directory, sometimes through links
// placed there. This survey finds the model directory, a product PPD
// directory left by an earlier installation, and where the product's PPDs go.
#include "printers/ppd_locations.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <optional>
#include <vector>

#include "driver/settings.h"
#include "driver/text.h"
#include "driver/update_log.h"
#include "install/file_ops.h"

namespace {

constexpr const char* kFoomaticDir = "/usr/share/foomatic/db/source/PPD";
constexpr const char* kFoomaticMakerDir = "/usr/share/foomatic/db/source/PPD/Marlo";
constexpr const char* kFoomaticMakerTamDir = "/usr/share/foomatic/db/source/PPD/Marlo/tam";
constexpr const char* kFoomaticTamDir = "/usr/share/foomatic/db/source/PPD/tam";
constexpr const char* kOpenprintingDir = "/usr/share/ppd/openprinting";
constexpr const char* kOpenprintingTamDir = "/usr/share/ppd/openprinting/tam";
constexpr const char* kSharePPDDir = "/usr/share/ppd";
constexpr const char* kSharePPDTamDir = "/usr/share/ppd/tam";
constexpr const char* kOptPPDDir = "/opt/share/ppd";
constexpr const char* kOptPPDTamDir = "/opt/share/ppd/tam";
constexpr std::size_t kLinkTableRows = 8;

// What the survey of the PPD trees saw.
struct PPDTrees {
  bool model = false;        // M: a CUPS model directory candidate exists
  bool system = false;       // S: a system PPD directory candidate exists
  bool foomatic = false;     // F
  bool makerDir = false;     // FC: foomatic's directory of the maker
  bool foomaticTam = false;  // FT
  bool openprinting = false; // O
  bool optShare = false;     // OS
  bool share = false;        // US
  bool layout = false;       // L: the distribution layout of /usr/share/ppd
  bool custom = false;       // CU
};

struct ModelLink {
  std::string name;
  std::string target;
};

std::string systemPPDDir;
std::vector<ModelLink> linkTable;

bool exists(const std::string& path) { return isDirectory(path) == 1; }
bool present(const std::string& path) { return access(path.c_str(), F_OK) == 0; }
std::string orUnknown(bool found, const std::string& path) { return found ? path : "???"; }

// The first existing candidate goes into field; 1 when there was one.
template <std::size_t N>
int firstExisting(const std::array<const char*, N>& candidates, std::string& field) {
  field = "/usr/share/cups/model";
  for (const char* candidate : candidates) {
    if (exists(candidate)) {
      field = candidate;
      return 1;
    }
  }
  return 0;
}

// Remembers path as the product PPD directory of an earlier installation.
void noteFound(std::string& existingPPDDir, int& found, const std::string& path) {
  existingPPDDir = path;
  found = 1;
}

// Steps 2 to 5 of the survey: the known places of an earlier product PPD directory.
int findEarlierPPDDir(PPDTrees& t, std::string& existingPPDDir) {
  int found = 0;
  if (t.openprinting && exists(kOpenprintingTamDir)) noteFound(existingPPDDir, found, kOpenprintingTamDir);
  if (t.foomatic) {
    t.makerDir = exists(kFoomaticMakerDir);
    if (t.makerDir) {
      // A find in the openprinting tree counts only when the maker's tree has one too.
      found = exists(kFoomaticMakerTamDir) ? 1 : 0;
      if (found) existingPPDDir = kFoomaticMakerTamDir;
    }
    t.foomaticTam = exists(kFoomaticTamDir);
    if (t.foomaticTam) noteFound(existingPPDDir, found, kFoomaticTamDir);
  }
  t.optShare = exists(kOptPPDDir);
  if (found == 0 && exists(kOptPPDTamDir)) {
    noteFound(existingPPDDir, found, kOptPPDTamDir);
    t.share = exists(kSharePPDDir);
  } else if (found == 0) {
    t.share = exists(kSharePPDDir);
    if (exists(kSharePPDTamDir)) noteFound(existingPPDDir, found, kSharePPDTamDir);
  } else {
    t.share = exists(kSharePPDDir);
  }
  return found;
}

// Steps 6 and 7: the distribution layout and the model directory's custom tree.
void findCustomDir(PPDTrees& t, std::string& existingPPDDir, int& found) {
  const std::string& modelDir = settings().cupsModelDir;
  t.layout = (exists("/usr/share/ppd/cups-included") && exists(kOpenprintingDir)) ||
             (exists("/usr/share/ppd/HP") && exists("/usr/share/ppd/Epson"));
  if (t.layout && found == 0) {
    if (exists("/usr/share/ppd/cups-included/tam")) {
      noteFound(existingPPDDir, found, "/usr/share/ppd/cups-included/tam");
    } else if (exists(kSharePPDTamDir)) {
      noteFound(existingPPDDir, found, kSharePPDTamDir);
    }
  }
  if (t.model) t.custom = exists(modelDir + "/custom");
  if (t.custom && found == 0 && exists(modelDir + "/custom/tam")) {
    noteFound(existingPPDDir, found, modelDir + "/custom/tam");
  }
}

int locationFlags(const PPDTrees& t) {
  return (t.model ? 0x001 : 0) | (t.foomatic ? 0x002 : 0) | (t.makerDir ? 0x004 : 0) | (t.custom ? 0x008 : 0) |
         (t.share ? 0x010 : 0) | (t.optShare ? 0x020 : 0) | (t.system ? 0x040 : 0) | (t.foomaticTam ? 0x080 : 0) |
         (t.layout ? 0x100 : 0) | (t.openprinting ? 0x200 : 0);
}

// Step 9: where the product's PPDs go before the model links are looked at.
std::string firstPPDInstallDir(const PPDTrees& t) {
  if (t.openprinting) {
    const bool vendorTrees = exists("/usr/share/ppd/openprinting/HP") && exists("/usr/share/ppd/openprinting/Epson");
    return t.layout && vendorTrees ? kOpenprintingTamDir : kSharePPDTamDir;
  }
  if (t.custom) return settings().cupsModelDir + "/custom/tam";
  if (t.foomatic) return t.makerDir && !t.foomaticTam ? kFoomaticMakerTamDir : kFoomaticTamDir;
  return "";
}

void writeLocationReport(const PPDTrees& t, const std::string& existingPPDDir, int found) {
  const std::string& modelDir = settings().cupsModelDir;
  logLine(std::string(39, '='));
  logLine("Sytem PPD locations:");
  logLine("CUPS model directory: " + orUnknown(t.model, modelDir));
  logLine("Foomatic directory  : " + orUnknown(t.foomatic, kFoomaticDir));
  logLine("Marlo directory     : " + (t.foomaticTam ? std::string(kFoomaticTamDir) : orUnknown(t.makerDir, kFoomaticMakerDir)));
  logLine("Custom ppd directory: " + orUnknown(t.custom, modelDir + "/custom"));
  if (t.share) logLine("Share ppd directory : /usr/share/ppd");
  if (t.optShare) logLine("Share ppd directory : /opt/share/ppd");
  logLine("System ppd directory: " + orUnknown(t.system, systemPPDDir));
  if (found == 1) logLine(strFormat("Found existing Vela PPD dir: \"%s\".", existingPPDDir.c_str()));
}

// The entry of the model directory at path as a link table row, when it is a
// link or a directory holding subdirectories.
std::optional<ModelLink> modelEntry(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return std::nullopt;
  ModelLink entry{path, ""};
  if (S_ISLNK(info.st_mode)) {
    char target[4096];
    const ssize_t length = readlink(path.c_str(), target, sizeof target);
    // A target that does not fit its 256-byte field would name another path.
    if (length < 0 || static_cast<std::size_t>(length) > kPathLimit) return std::nullopt;
    entry.target.assign(target, static_cast<std::size_t>(length));
    return entry;
  }
  if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_nlink > 2) return entry;
  return std::nullopt;
}

void recordLink(const ModelLink& entry, int& count) {
  linkTable.push_back(entry);
  ++count;
  logLine(strFormat("Link %d: %s linked to %s.\n", count, entry.name.c_str(), entry.target.c_str()));
}

// The pattern a link target must hold to be an earlier product link.
const char* targetPattern(int flags) {
  if (flags & 0x002) return "foomatic";
  if (flags & 0x010) return "/usr/share/ppd";
  if (flags & 0x020) return "/opt/share/ppd";
  return nullptr;
}

// Makes sure the PPD installation directory exists, with the log lines.
int ensurePPDInstallDir(int result) {
  const std::string& dir = settings().ppdInstallDir;
  logLine(strFormat("PPD installation dir: %s\n", dir.c_str()));
  if (!exists(dir)) {
    makeDir(dir, 1, 0755);
    logLine(strFormat("Created directory: '%s'.\n", dir.c_str()));
  }
  return result;
}

int fallbackToModelDir() {
  SetupSettings& s = settings();
  s.ppdInstallDir = s.cupsModelDir + "/tam";
  return 0;
}

// Sets the PPD installation directory when path fits its field; the model
// directory's own tree otherwise.
int usePPDInstallDir(const std::string& path) {
  if (path.size() > kPathLimit) return fallbackToModelDir();
  settings().ppdInstallDir = path;
  return 1;
}

// CUPS 1.3 and newer find PPDs below /usr/share/ppd by themselves.
int chooseForNewCups() {
  SetupSettings& s = settings();
  const int flags = s.ppdLocationFlags;
  const std::string current = s.ppdInstallDir;
  int result = 1;
  if (flags & 0x010) {
    if (flags & 0x200) {
      s.ppdInstallDir = kOpenprintingTamDir;
    } else if (flags & 0x100) {
      s.ppdInstallDir = kSharePPDTamDir;
    } else if (flags & 0x020) {
      s.ppdInstallDir = contains(current, "/usr/opt") ? "/usr/opt/ppd/tam" : kSharePPDTamDir;
    } else if (!contains(current, "/usr/share")) {
      s.ppdInstallDir = kSharePPDTamDir;
    }
  } else if (flags & 0x020) {
    if (!contains(current, "/usr/opt")) {
      s.ppdInstallDir = "/usr/opt/ppd/tam";
    } else if (contains(current, "/opt/share")) {
      result = fallbackToModelDir();
    } else {
      s.ppdInstallDir = kOptPPDTamDir;
    }
  } else {
    result = fallbackToModelDir();
  }
  return ensurePPDInstallDir(result);
}

// Older CUPS without earlier links: a link in the model directory leads to
// the shared PPD tree.
int chooseWithoutLinks() {
  SetupSettings& s = settings();
  const int flags = s.ppdLocationFlags;
  const std::string modelLink = s.cupsModelDir + "/tam";
  if ((flags & (0x010 | 0x020)) == 0) {
    s.ppdInstallDir = modelLink;
    logLine(strFormat("PPD installation dir: %s\n", s.ppdInstallDir.c_str()));
    return 1;
  }
  s.ppdInstallDir = (flags & 0x010) ? kSharePPDTamDir : kOptPPDTamDir;
  logLine(strFormat("PPD installation dir: %s\n", s.ppdInstallDir.c_str()));
  if (present(modelLink)) return 1;
  if ((flags & 0x010) && !present(s.ppdInstallDir)) makeDir(s.ppdInstallDir, 1, 0755);
  std::string line = strFormat("Link %d: %s linked to %s.\n", 1, modelLink.c_str(), s.ppdInstallDir.c_str());
  if (linkFile(s.ppdInstallDir, modelLink) != 0) line += ": WRONG!!!";
  logLine(line);
  return 1;
}

// Older CUPS with earlier links: the product's PPDs follow the first link of
// the known kind.
int chooseFromLinks(int linkCount) {
  const int flags = settings().ppdLocationFlags;
  const char* pattern = (flags & 0x008)            ? "custom"
                        : (flags & 0x002)          ? "foomatic"
                        : (flags & (0x010 | 0x020)) ? "/share/ppd"
                                                    : nullptr;
  const std::size_t rows = std::min(linkTable.size(), static_cast<std::size_t>(linkCount));
  for (std::size_t i = 0; pattern != nullptr && i < rows; ++i) {
    const ModelLink& row = linkTable[i];
    if (!contains(row.name, pattern)) continue;
    const std::string base = startsWith(row.target, "/") ? row.target : row.name;
    const std::size_t slash = base.rfind('/');
    const bool endsInTam = base.compare(slash == std::string::npos ? 0 : slash + 1, std::string::npos, "tam") == 0;
    return ensurePPDInstallDir(usePPDInstallDir(endsInTam ? base : base + "/tam"));
  }
  return ensurePPDInstallDir(fallbackToModelDir());
}

}  // namespace

int findModelDir() {
  static constexpr std::array<const char*, 5> kCandidates = {
      "/usr/share/cups/model", "/usr/share/ppd", "/etc/cups/model", "/opt/cups/model", "/opt/cups/share/model",
  };
  return firstExisting(kCandidates, settings().cupsModelDir);
}

int findSystemPPDDir() {
  static constexpr std::array<const char*, 5> kCandidates = {
      "/usr/share/ppd", "/usr/ppd", "/opt/share/ppd", "/usr/local/share/ppd", kFoomaticDir,
  };
  return firstExisting(kCandidates, systemPPDDir);
}

int findPPDLocations(std::string& existingPPDDir) {
  settings().ppdInstallDir.clear();
  PPDTrees t;
  t.model = findModelDir() == 1;
  t.system = findSystemPPDDir() == 1;
  t.foomatic = exists(kFoomaticDir);
  t.openprinting = exists(kOpenprintingDir);
  int found = findEarlierPPDDir(t, existingPPDDir);
  findCustomDir(t, existingPPDDir, found);
  const int flags = locationFlags(t);
  settings().ppdInstallDir = firstPPDInstallDir(t);
  writeLocationReport(t, existingPPDDir, found);
  return flags;
}

int scanModelLinks(int& count) {
  const std::string modelDir = settings().cupsModelDir;
  const int flags = settings().ppdLocationFlags;
  count = 0;
  if (!present(modelDir)) return 0;
  linkTable.clear();
  DIR* dir = opendir(modelDir.c_str());
  if (dir == nullptr) return -1;
  bool sawFoomatic = false;
  while (linkTable.size() < kLinkTableRows) {
    errno = 0;
    const dirent* entry = readdir(dir);
    if (entry == nullptr) break;
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = modelDir + "/" + name;
    if (contains(path, "foomatic")) sawFoomatic = true;
    // A path that does not fit its 256-byte row cannot be recorded.
    if (path.size() > kPathLimit) continue;
    const std::optional<ModelLink> link = modelEntry(path);
    if (!link) continue;
    if (flags & 0x008) {
      if (contains(path, "custom")) recordLink(*link, count);
      continue;
    }
    const char* pattern = targetPattern(flags);
    if (pattern != nullptr && contains(link->target, pattern)) {
      recordLink(*link, count);
      break;
    }
  }
  if (count == 0 && !sawFoomatic) logLine(strFormat("No known links in cups model dir: %s\n", modelDir.c_str()));
  closedir(dir);
  return count > 0 ? 1 : 0;
}

int choosePPDInstallDir(const std::string& existingPPDDir, int linkCount) {
  SetupSettings& s = settings();
  if (!present(s.cupsModelDir)) return 0;
  if (!existingPPDDir.empty()) {
    s.ppdInstallDir = existingPPDDir;
    logLine(strFormat("PPD installation dir: %s\n", s.ppdInstallDir.c_str()));
    logLine(strFormat("Using previous Vela PPD directory: \"%s\".", s.ppdInstallDir.c_str()));
    return 1;
  }
  if (s.cupsVersion >= 1300) return chooseForNewCups();
  if (linkCount <= 0) return chooseWithoutLinks();
  return chooseFromLinks(linkCount);
}
