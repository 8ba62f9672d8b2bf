// CUPS version detection. The running scheduler names its version in the
// "Server:" header of its HTTP answer (asked with a netcat program, or
// through libcups where the host has none); failing that, cups-config, the
// printer configuration, the documentation and the test pages are read in
// turn, and 1.4 is assumed when nothing tells.
#include "discovery/cups_version.h"

#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "discovery/command_locator.h"
#include "discovery/scheduler_head.h"
#include "discovery/temp_file.h"
#include "driver/regular_file.h"
#include "driver/settings.h"
#include "driver/shell.h"
#include "driver/text.h"
#include "driver/update_log.h"

namespace {

constexpr std::size_t kFileDigitLimit = 23;   // a 24-byte digit buffer
constexpr std::size_t kHttpRunLimit = 31;     // a 32-byte digit buffer
constexpr std::size_t kNetcatPathLimit = 79;  // an 80-byte path buffer
constexpr std::size_t kSignificantDigits = 9;
constexpr unsigned kHttpProbeSeconds = 5;

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool present(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// A fresh file in /tmp for a command's output. A host without a usable /tmp
// only costs this method its answer, so the run goes on.
std::optional<std::string> outputFile() {
  std::optional<std::string> path = makeTempFile("/tmp", "KOR");
  if (!path) logLine(strFormat("Cannot create a temporary file in /tmp: %s.", std::strerror(errno)));
  return path;
}

// Finds where a line of a file gives the version; npos when it does not.
using VersionPlace = std::size_t (*)(const std::string& line);

// The first line of path for which place() finds a version start, with the
// number read there. Nothing when the file is unreadable or no line matches.
std::optional<long> versionInFile(const std::string& path, VersionPlace place, std::string& foundLine) {
  std::FILE* file = openRegularFile(path);
  if (file == nullptr) return std::nullopt;
  std::optional<long> number;
  std::string line;
  while (readLine255(file, line)) {
    const std::size_t at = place(line);
    if (at == std::string::npos) continue;
    number = versionNumber(collectVersionDigits(std::string_view(line).substr(at)));
    foundLine = line;
    break;
  }
  std::fclose(file);
  return number;
}

// Where text after marker, then after what, starts; npos when either is missing.
std::size_t afterBoth(const std::string& line, const char* marker, const char* what) {
  const std::size_t m = line.find(marker);
  if (m == std::string::npos) return std::string::npos;
  const std::size_t w = line.find(what, m + std::string_view(marker).size());
  return w == std::string::npos ? w : w + std::string_view(what).size();
}

std::size_t printersConfPlace(const std::string& line) { return afterBoth(line, "Printer configuration", " v"); }
std::size_t testPagePlace(const std::string& line) { return afterBoth(line, "Printed Using CUPS", " v"); }

std::size_t docTitlePlace(const std::string& line) {
  std::size_t at = afterBoth(line, "<TITLE>", "CUPS");
  while (at != std::string::npos && at < line.size() && line[at] == ' ') ++at;
  return at;
}

std::size_t bannerPlace(const std::string& line) {
  static const std::string kMarker = "produced by cups";
  std::size_t at = std::string::npos;
  for (std::size_t i = 0; i + kMarker.size() <= line.size(); ++i) {
    if (strncasecmp(line.c_str() + i, kMarker.c_str(), kMarker.size()) == 0) {
      at = i + kMarker.size();
      break;
    }
  }
  while (at != std::string::npos && at < line.size() && std::string_view(" \tvV").find(line[at]) != std::string_view::npos) {
    ++at;
  }
  return at;
}

std::size_t wholeLinePlace(const std::string&) { return 0; }

// A number a file method may use: positive and not the 100 of a "1.0.0".
bool usable(const std::optional<long>& number) { return number && *number > 0 && *number != 100; }

// The log line of a method that found the version; the first two methods
// write a blank before their "//".
enum class Spacing { kBlank, kNone };
int logVersion(Spacing spacing, long version, const std::string& source) {
  const int result = static_cast<int>(version);
  logLine(spacing == Spacing::kBlank ? strFormat("CUPS Version : %d // %s", result, source.c_str())
                                     : strFormat("CUPS Version : %d// %s", result, source.c_str()));
  return result;
}

// Method 1: the first line that "cups-config --version" prints.
std::optional<long> versionFromCupsConfig(std::string& foundLine) {
  for (const char* program : {"/usr/bin/cups-config", "/usr/sbin/cups-config", "/sbin/cups-config"}) {
    if (!present(program)) continue;
    const std::optional<std::string> output = outputFile();
    if (!output) return std::nullopt;
    runShell(std::string(program) + " --version >  " + shellWord(*output));
    std::optional<long> number = versionInFile(*output, wholeLinePlace, foundLine);
    unlink(output->c_str());
    return number;
  }
  return std::nullopt;
}

// Method 4: the documentation directory of a CUPS 1.0 to 1.5.
std::optional<int> versionFromDocDir(std::string& dir) {
  for (int i = 0; i <= 5; ++i) {
    dir = strFormat("%s/cups-1.%d", "/usr/share/doc", i);
    if (present(dir)) return 1000 + 100 * i;
  }
  return std::nullopt;
}

std::string firstPresent(const char* first, const char* second) { return present(first) ? first : second; }

// The product's own netcat copy, else the host's nc; nothing when neither is there.
std::optional<std::string> netcatProgram() {
  const std::string& sourceDir = settings().sourceDir;
  if (!sourceDir.empty()) {
    const std::string own = sourceDir + "/kornc";
    if (own.size() <= kNetcatPathLimit && present(own)) return own;
  }
  if (present("/opt/tam/bin/kornc")) return "/opt/tam/bin/kornc";
  return locateCommand("nc");
}

}  // namespace

long scaleToFourDigits(long value) {
  if (value >= 1) {
    while (value <= 999) value *= 10;
  }
  while (value > 9999) value /= 10;
  return value;
}

std::string collectVersionDigits(std::string_view text) {
  std::string digits;
  for (char c : text) {
    if (c == '.') continue;
    if (!isDigit(c) || digits.size() == kFileDigitLimit) break;
    digits += c;
  }
  return digits;
}

long versionNumber(std::string_view digits) {
  while (!digits.empty() && digits.front() == '0') digits.remove_prefix(1);
  long value = 0;
  for (char c : digits.substr(0, kSignificantDigits)) {
    if (!isDigit(c)) break;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::optional<int> versionFromServerLine(std::string_view line) {
  const std::size_t cups = line.find("CUPS");
  if (line.find("Server:") == std::string_view::npos || cups == std::string_view::npos) return std::nullopt;
  std::string_view rest = line.substr(cups + 4);
  if (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
  std::size_t runLength = 0;
  while (runLength < rest.size() && runLength < kHttpRunLimit && (isDigit(rest[runLength]) || rest[runLength] == '.')) {
    ++runLength;
  }
  const std::string_view run = rest.substr(0, runLength);
  const std::size_t dot = run.find('.');
  const std::string_view whole = run.substr(0, dot);
  std::string fraction(dot == std::string_view::npos ? std::string_view() : run.substr(dot + 1));
  fraction = fraction.substr(0, fraction.find('.')) + "00";
  const long number = versionNumber(whole);
  // The exact decimal product: whole digits and then the fraction's leading ones.
  if (number < 10) return static_cast<int>(number * 100 + (fraction[0] - '0') * 10 + (fraction[1] - '0'));
  if (number < 100) return static_cast<int>(number * 10 + (fraction[0] - '0'));
  return static_cast<int>(number);
}

std::string httpProbeScript(const std::string& netcat, const std::string& outputFile) {
  return "#!/bin/sh\n" + shellWord(netcat) + " localhost 631 >" + shellWord(outputFile) +
         " <<EOF\nHEAD / HTTP/1.1\nConnection: Close\n\n\nEOF\n";
}

int getCupsVersionFromHttp() {
  const std::optional<std::string> answer = outputFile();
  if (!answer) return 0;
  // A scheduler that takes the connection and never ends it must not hold
  // the run: the probe is given up, and what had arrived is still read.
  // Without a netcat program, libcups sends the same request.
  bool gaveUp = false;
  if (const std::optional<std::string> netcat = netcatProgram()) {
    runShellBounded(httpProbeScript(*netcat, *answer), kHttpProbeSeconds, gaveUp);
  } else {
    askSchedulerHead(*answer, kHttpProbeSeconds, gaveUp);
  }
  if (gaveUp) logLine(strFormat("The HTTP probe of the CUPS version gave up after %u seconds.", kHttpProbeSeconds));
  std::FILE* file = openRegularFile(*answer);
  if (file == nullptr) {
    unlink(answer->c_str());
    return 0;
  }
  int version = 0;
  std::string line;
  while (readLine255(file, line)) {
    if (const std::optional<int> found = versionFromServerLine(line)) {
      version = *found;
      break;
    }
  }
  std::fclose(file);
  unlink(answer->c_str());
  return version;
}

int getCupsVersionFromFiles() {
  std::string found;
  if (const std::optional<long> n = versionFromCupsConfig(found); usable(n)) {
    return logVersion(Spacing::kBlank, scaleToFourDigits(*n), found);
  }
  if (const std::optional<long> n = versionInFile("/etc/cups/printers.conf", printersConfPlace, found); usable(n)) {
    return logVersion(Spacing::kBlank, scaleToFourDigits(*n), found);
  }
  if (const std::optional<long> n = versionInFile("/usr/share/cups/doc/index.html", docTitlePlace, found); usable(n)) {
    return logVersion(Spacing::kNone, scaleToFourDigits(*n), found);
  }
  if (const std::optional<int> v = versionFromDocDir(found)) return logVersion(Spacing::kNone, *v, found);
  const std::string testPage = firstPresent("/etc/cups/data/testprint.ps", "/usr/share/cups/data/testprint.ps");
  if (const std::optional<long> n = versionInFile(testPage, testPagePlace, found); usable(n)) {
    return logVersion(Spacing::kNone, scaleToFourDigits(*n), found);
  }
  const std::string banner = firstPresent("/usr/share/cups/data/testprint", "/etc/cups/data/testprint");
  if (const std::optional<long> n = versionInFile(banner, bannerPlace, found); usable(n)) {
    return logVersion(Spacing::kNone, scaleToFourDigits(*n), found);
  }
  return logVersion(Spacing::kNone, 1400, "CUPS Version not found. Reset to 1.4");
}

int detectCupsVersion() {
  const int fromHttp = getCupsVersionFromHttp();
  if (fromHttp <= 0) return getCupsVersionFromFiles();
  const int version = static_cast<int>(scaleToFourDigits(fromHttp));
  logLine(strFormat("CUPS Header Version : %d//HTTP", version));
  return version;
}
