// The corpus comparison: real-world PPDs, the administrator's choices on
// them (a JCL option, a custom page size and a custom value wherever the
// PPD has them, and ordinary options), setup's upgrade against CUPS's own
// `lpadmin -m`, each read back through the scheduler, and cupstestppd on
// the PPD that setup wrote. Real driver upgrades go through the same steps
// with the queues made from the model's old PPD; a page size then counts as
// kept when the new default has its dimensions, and setup's log has to name
// every setting that setup did not keep.
#include "sandbox/ppd_corpus.h"

#include "sandbox/preview_check.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "printers/model_table.h"
#include "sandbox/ppd_choices.h"

namespace {

constexpr const char* kDriver = "/usr/lib/cups/driver/openprinting-ppds";
constexpr const char* kOldDriver = "/usr/lib/cups/driver/foomatic-db-compressed-ppds";
constexpr const char* kPeerModels = "/usr/share/cups/model/vela-corpus";

// The model lines of a product PPD at the top of a real one: the product
// lists a queue by them and finds its new PPD by the model text.
std::string dressedAsProduct(const std::string& ppd, std::string_view modelName) {
  std::istringstream lines(ppd);
  std::string first, out;
  std::getline(lines, first);
  out = first + "\n*% Vela version: 1\n*ModelName: \"Marlo " + std::string(modelName) + " PS\"\n";
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("*ModelName:")) out += line + "\n";
  }
  return out;
}

// Model names whose text the model table maps to their own row, one per id.
std::vector<std::string_view> distinctModels() {
  std::vector<std::string_view> names;
  std::set<int> ids;
  for (const ModelRow& row : modelTable()) {
    const std::string text = "\"Marlo " + std::string(row.name) + " PS\"";
    if (findModelId(text) == row.id && ids.insert(row.id).second) names.push_back(row.name);
  }
  return names;
}

std::string readCommand(const std::string& command) {
  std::string text;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  char buffer[8192];
  for (std::size_t n; pipe != nullptr && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  if (pipe != nullptr) ::pclose(pipe);
  return text;
}

// The value of the PPD's "*Default<option>:" line.
std::string defaultLineValue(const std::string& ppd, const std::string& option) {
  const std::string marker = "\n*Default" + option + ":";
  const std::size_t at = ppd.find(marker);
  if (at == std::string::npos) return "";
  std::istringstream value(ppd.substr(at + marker.size(), ppd.find('\n', at + 1) - at - marker.size()));
  std::string word;
  value >> word;
  return word;
}

// A choice is kept when the queue's PPD names it and the scheduler shows it
// as the option's default (a custom value as "Custom.<parameters>"); a page
// size also when the PPD names a size with its dimensions in the old PPD.
bool kept(const CorpusSetting& setting, const std::string& ppd, const QueueOptions& shown, const PpdFacts& old) {
  const auto option = shown.find(setting.option);
  const std::string written = defaultLineValue(ppd, setting.option);
  const bool sameSize = setting.option == "PageSize" && written != setting.value &&
                        ::sameSize(old, setting.value, factsOf(ppd), written);
  if ((written != setting.value && !sameSize) || option == shown.end()) return false;
  const std::string& marked = option->second.defaultChoice;
  return marked == written || (setting.value.starts_with("Custom.") && marked.starts_with("Custom."));
}

// The part of setup's log about one queue.
std::string logSectionOf(const std::string& log, const std::string& queue) {
  const std::size_t start = log.find("Printer = " + queue + " with");
  if (start == std::string::npos) return "";
  return log.substr(start, log.find("\n=====", start) - start);
}

// Whether a "Keeping new default" or "Dropping old default" line of the
// section names the option with the value (and, when given, why).
bool namedInLog(const std::string& section, const CorpusSetting& setting, const std::string& why = "") {
  std::istringstream lines(section);
  for (std::string line; std::getline(lines, line);) {
    const bool notKept = line.starts_with("processNewPPD: Keeping new default: *" + setting.option + "/") ||
                         line.starts_with("processNewPPD: Dropping old default: *" + setting.option + "/");
    if (notKept && line.find(setting.value) != std::string::npos && line.find(why) != std::string::npos) return true;
  }
  return false;
}

std::set<std::string> failuresOf(SandboxHost& host, const std::string& path) {
  std::set<std::string> failures;
  std::istringstream lines(host.run({"/usr/bin/cupstestppd", "-W", "none", path}).out);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("**FAIL**") != std::string::npos) failures.insert(line.substr(line.find_first_not_of(" \t")));
  }
  return failures;
}

bool conflictingDefaults(const std::set<std::string>& failures) {
  return std::any_of(failures.begin(), failures.end(),
                     [](const std::string& f) { return f.find("Default choices conflicting") != std::string::npos; });
}

std::string number(std::size_t i) {
  char text[24];
  std::snprintf(text, sizeof text, "%02zu", i);
  return text;
}

bool isPPD(const std::string& text) { return text.starts_with("*PPD-Adobe"); }

// A PPD as the driver program of its URI gives it; empty when it gives none.
std::string fetchPPD(const std::string& driver, const std::string& uri) {
  const std::string text = readCommand(driver + " cat '" + uri + "' 2>/dev/null");
  return isPPD(text) ? text : "";
}

// The PPDs of the URIs, each driver's with one pass over its archive
// (driver_archive_cat.py); those it cannot give come from the driver's cat.
std::vector<std::string> fetchAll(const std::vector<std::string>& uris) {
  std::vector<std::string> texts(uris.size());
  std::map<std::string, std::vector<std::size_t>> byDriver;
  for (std::size_t i = 0; i < uris.size(); ++i) {
    if (uris[i].find('\'') == std::string::npos)
      byDriver[uris[i].starts_with("foomatic-db-compressed-ppds:") ? kOldDriver : kDriver].push_back(i);
  }
  for (const auto& [driver, numbers] : byDriver) {
    std::string command = "python3 " VELA_SOURCE_DIR "/sandbox/driver_archive_cat.py " + driver;
    for (std::size_t i : numbers) command += " '" + uris[i] + "'";
    std::istringstream frames(readCommand(command + " 2>/dev/null"));
    for (std::size_t number, length; frames >> number >> length && frames.get() == '\n' && number < numbers.size();) {
      std::string text(length, '\0');
      frames.read(text.data(), static_cast<std::streamsize>(length));
      if (isPPD(text)) texts[numbers[number]] = text;
    }
    for (std::size_t i : numbers) {
      if (texts[i].empty()) texts[i] = fetchPPD(driver, uris[i]);
    }
  }
  return texts;
}

// What one PPD of the corpus is made of on the host.
struct CorpusQueues {
  std::string setupQueue, cupsQueue, oldCopy, peerModel, peerPath;
  std::string cupsPPD;
  QueueOptions cupsShown;
  PpdFacts old;
};

// Dresses the PPDs, installs the new one as the product's new PPD and as a
// model the scheduler offers, and makes both queues of the old one with
// the choices.
std::string prepare(SandboxHost& host, RealCups& cups, std::size_t i, std::string_view model,
                    const std::string& oldText, const std::string& newText, CorpusPPD& ppd, CorpusQueues& queues) {
  if (oldText.empty() || newText.empty()) return "the driver gave no PPD";
  const std::string dressed = dressedAsProduct(newText, model), oldDressed = dressedAsProduct(oldText, model);
  const std::string name = "Corpus" + number(i) + ".ppd";
  queues = {"vela" + number(i), "cups" + number(i), "/root/corpus/old-" + name, "vela-corpus/" + name,
            std::string(kPeerModels) + "/" + name, {}, {}, factsOf(oldDressed)};
  ppd.settings = ppd.oldUri.empty() ? choicesFor(queues.old) : generationChoicesFor(queues.old, factsOf(dressed));
  host.writeFile("/root/corpus/" + name, oldDressed);
  host.writeFile("/opt/tam/ppd/" + name, dressed);
  host.writeFile(queues.peerPath, dressed);
  std::vector<std::string> settings;
  for (const CorpusSetting& setting : ppd.settings) settings.push_back(setting.option + "=" + setting.value);
  for (const std::string& queue : {queues.setupQueue, queues.cupsQueue}) {
    const std::string failed = cups.addQueue(queue, "/root/corpus/" + name, settings);
    if (!failed.empty()) return failed;
  }
  return "";
}

// CUPS's own merge on the peer queue, read back before setup runs.
std::string upgradeWithCups(SandboxHost& host, CorpusQueues& queues) {
  const RunResult merged = host.run({"/usr/sbin/lpadmin", "-p", queues.cupsQueue, "-m", queues.peerModel});
  if (merged.status != 0) return "lpadmin -m: " + merged.err + host.shell("tail -3 /var/log/cups/error_log").out;
  queues.cupsPPD = host.readFile("/etc/cups/ppd/" + queues.cupsQueue + ".ppd");
  host.writeFile("/root/corpus/cups-" + queues.cupsQueue + ".ppd", queues.cupsPPD);
  host.writeFile(queues.oldCopy, host.readFile("/etc/cups/ppd/" + queues.setupQueue + ".ppd"));
  return "";
}

// setup's result for one PPD: what it kept and how its log names the rest,
// what cupstestppd now finds.
void judge(SandboxHost& host, RealCups& cups, const CorpusQueues& queues, const std::string& log, CorpusPPD& ppd) {
  const std::string queuePPD = "/etc/cups/ppd/" + queues.setupQueue + ".ppd";
  const std::string merged = host.readFile(queuePPD), section = logSectionOf(log, queues.setupQueue);
  const QueueOptions shown = cups.options(queues.setupQueue);
  for (CorpusSetting& setting : ppd.settings) {
    setting.keptBySetup = kept(setting, merged, shown, queues.old);
    setting.keptByCups = kept(setting, queues.cupsPPD, queues.cupsShown, queues.old);
    setting.named = namedInLog(section, setting);
    setting.yielded = namedInLog(section, setting, " conflicts with ");
  }
  std::set<std::string> known = failuresOf(host, queues.oldCopy);
  known.merge(failuresOf(host, queues.peerPath));
  const std::set<std::string> bySetup = failuresOf(host, queuePPD);
  for (const std::string& failure : bySetup) {
    if (!known.contains(failure)) ppd.newFailures.push_back(failure);
  }
  ppd.conflictsBySetup = !conflictingDefaults(known) && conflictingDefaults(bySetup);
  ppd.conflictsByCups = !conflictingDefaults(known) &&
                        conflictingDefaults(failuresOf(host, "/root/corpus/cups-" + queues.cupsQueue + ".ppd"));
}

// How many settings of the run satisfy counts.
template <typename Counts>
int countSettings(const std::vector<CorpusPPD>& ppds, Counts counts) {
  int n = 0;
  for (const CorpusPPD& ppd : ppds)
    for (const CorpusSetting& setting : ppd.settings) n += counts(setting);
  return n;
}

}  // namespace

int CorpusRun::chosen() const {
  return countSettings(ppds, [](const CorpusSetting&) { return true; });
}
int CorpusRun::keptBySetup() const {
  return countSettings(ppds, [](const CorpusSetting& s) { return s.keptBySetup; });
}
int CorpusRun::keptByCups() const {
  return countSettings(ppds, [](const CorpusSetting& s) { return s.keptByCups; });
}

int CorpusRun::regressions() const {
  int n = 0;
  for (const CorpusPPD& ppd : ppds) n += static_cast<int>(ppd.newFailures.size());
  return n;
}

int CorpusRun::notNamed() const {
  return countSettings(ppds, [](const CorpusSetting& s) { return !s.keptBySetup && !s.named; });
}

int CorpusRun::conflicting(bool bySetup) const {
  return static_cast<int>(std::count_if(ppds.begin(), ppds.end(), [&](const CorpusPPD& ppd) {
    return bySetup ? ppd.conflictsBySetup : ppd.conflictsByCups;
  }));
}

std::string CorpusRun::generationSummary() const {
  return "cross-generation: setup kept " + std::to_string(keptBySetup()) + " of " + std::to_string(chosen()) +
         " chosen settings on " + std::to_string(ppds.size()) + " real upgrade pairs (CUPS lpadmin -m: " +
         std::to_string(keptByCups()) + "); conflicting defaults: setup " + std::to_string(conflicting(true)) +
         " (CUPS " + std::to_string(conflicting(false)) + "); not kept and not named: " + std::to_string(notNamed());
}

std::string CorpusRun::summary() const {
  return "setup kept " + std::to_string(keptBySetup()) + " of " + std::to_string(chosen()) +
         " chosen settings (CUPS lpadmin -m: " + std::to_string(keptByCups()) +
         "); cupstestppd regressions: " + std::to_string(regressions());
}

std::vector<std::string> CorpusRun::shortfalls() const {
  std::vector<std::string> lines;
  if (!error.empty()) lines.push_back(error);
  if (!previewDifference.empty()) lines.push_back("the preview and setup differ: " + previewDifference);
  for (const CorpusPPD& ppd : ppds) {
    if (!ppd.problem.empty()) lines.push_back(ppd.uri + ": " + ppd.problem);
    for (const CorpusSetting& s : ppd.settings) {
      const std::string setting = ppd.uri + ": " + s.option + "=" + s.value;
      if (s.keptByCups && !s.keptBySetup && !s.yielded) lines.push_back(setting + " lost by setup");
      if (!s.keptBySetup && !s.named) lines.push_back(setting + " lost by setup without a word in its log");
    }
    for (const std::string& failure : ppd.newFailures) lines.push_back(ppd.uri + ": new " + failure);
    if (!ppd.printed) lines.push_back(ppd.uri + ": the job did not reach the device");
  }
  return lines;
}

bool corpusSampled() { return std::getenv("VELA_CORPUS_SAMPLE") != nullptr; }

std::vector<std::string> corpusUris() {
  std::vector<std::string> uris;
  const char* const named = std::getenv("VELA_CORPUS_LIST");
  std::ifstream list(named != nullptr ? named : corpusSampled() ? VELA_SOURCE_DIR "/sandbox/ppd_corpus_sample.list"
                                                                : VELA_SOURCE_DIR "/sandbox/ppd_corpus.list");
  for (std::string line; std::getline(list, line);) {
    if (!line.empty() && line[0] != '#') uris.push_back(line);
  }
  return uris;
}

std::vector<std::pair<std::string, std::string>> generationPairs() {
  std::vector<std::pair<std::string, std::string>> pairs;
  std::ifstream list(corpusSampled() ? VELA_SOURCE_DIR "/sandbox/ppd_generations_sample.list"
                                     : VELA_SOURCE_DIR "/sandbox/ppd_generations.list");
  for (std::string line; std::getline(list, line);) {
    if (!line.empty() && line[0] != '#') pairs.emplace_back(line.substr(0, line.find(' ')), line.substr(line.find(' ') + 1));
  }
  return pairs;
}

std::string corpusUnavailableReason() {
  if (std::string why = RealCups::unavailableReason(); !why.empty()) return why;
  if (::access(kDriver, X_OK) != 0) return "openprinting-ppds is not installed";
  if (::access(kOldDriver, X_OK) != 0) return "foomatic-db-compressed-ppds is not installed";
  if (::access("/usr/bin/cupstestppd", X_OK) != 0) return "cupstestppd is not installed";
  return "";
}

CorpusRun compareWithCups(const std::vector<std::string>& uris) {
  std::vector<std::pair<std::string, std::string>> same;
  for (const std::string& uri : uris) same.emplace_back("", uri);
  return compareGenerationsWithCups(same);
}

// An empty old URI stands for the new PPD itself.
CorpusRun compareGenerationsWithCups(const std::vector<std::pair<std::string, std::string>>& pairs) {
  CorpusRun run;
  SandboxHost host;
  RealCups cups(host);
  host.installProduct("/opt/tam");
  host.shell("rm -f /opt/tam/ppd/*");
  host.makeDirs(kPeerModels);
  const std::vector<std::string_view> models = distinctModels();
  if (pairs.size() > models.size()) {
    run.error = "more PPDs than models";
    return run;
  }

  std::vector<std::string> uris, oldUris;
  for (const auto& [oldUri, uri] : pairs) {
    uris.push_back(uri);
    if (!oldUri.empty()) oldUris.push_back(oldUri);
  }
  const std::vector<std::string> texts = fetchAll(uris), oldTexts = oldUris.empty() ? texts : fetchAll(oldUris);
  std::vector<CorpusQueues> queues(uris.size());
  for (std::size_t i = 0; i < uris.size(); ++i) {
    run.ppds.push_back({uris[i], pairs[i].first, {}, {}, false, false, false, {}});
    CorpusPPD& ppd = run.ppds.back();
    ppd.problem = prepare(host, cups, i, models[i], oldTexts[i], texts[i], ppd, queues[i]);
  }
  host.shell("gzip -9n /opt/tam/ppd/*.ppd");
  for (std::size_t i = 0; i < uris.size(); ++i) {
    if (!run.ppds[i].problem.empty()) continue;
    run.ppds[i].problem = upgradeWithCups(host, queues[i]);
    queues[i].cupsShown = cups.options(queues[i].cupsQueue);
  }

  RunOptions slow;
  slow.timeoutSeconds = 600;
  host.run({"/opt/tam/bin/setup", "-n"}, slow);
  const std::string forecast = queuePart(comparableLog(host.readFile("/var/log/Vela4.0_PreviewLog")));
  const RunResult setup = host.run({"/opt/tam/bin/setup"}, slow);
  if (setup.status != 0 || !cups.waitUntilRunning(60)) {
    run.error = "setup or the restart failed: " + setup.err;
    return run;
  }
  run.previewDifference = firstDifference(forecast, queuePart(comparableLog(host.log())));
  if (forecast.empty()) run.previewDifference = "the preview listed no queue";
  host.writeFile("/root/page.txt", "A test page after the Vela upgrade.\n");
  const std::string log = host.log();
  for (std::size_t i = 0; i < uris.size(); ++i) {
    if (!run.ppds[i].problem.empty()) continue;
    judge(host, cups, queues[i], log, run.ppds[i]);
    cups.print(queues[i].setupQueue, "/root/page.txt");
  }
  for (std::size_t i = 0; i < uris.size(); ++i) {
    const std::string device = std::string(RealCups::kOutputDir) + "/" + queues[i].setupQueue;
    run.ppds[i].printed = cups.waitForJobsDone(queues[i].setupQueue, 120) && host.exists(device);
  }
  return run;
}
