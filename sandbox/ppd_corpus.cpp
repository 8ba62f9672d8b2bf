// The corpus comparison: real-world PPDs, the administrator's choices on
// them (a JCL option, a custom page size and a custom value wherever the
// PPD has them, and ordinary options), setup's upgrade against CUPS's own
// `lpadmin -m`, each read back through the scheduler, and cupstestppd on
// the PPD that setup wrote.
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

namespace {

constexpr const char* kDriver = "/usr/lib/cups/driver/openprinting-ppds";
constexpr const char* kPeerModels = "/usr/share/cups/model/vela-corpus";

// An option block of a PPD as the harness reads it.
struct PpdOption {
  std::string keyword;
  bool jcl = false;
  std::string defaultChoice;
  std::vector<std::string> choices;
};

// A custom option's only parameter: "*ParamCustomK Name: 1 type min max".
struct CustomParam {
  std::string type;
  double min = 0, max = 0;
};

struct PpdFacts {
  std::vector<PpdOption> options;
  bool customPageSize = false;
  CustomParam width{"points", 0, 1e9}, height{"points", 0, 1e9};
  std::map<std::string, std::vector<CustomParam>> customParams;  // by option keyword, "*Custom<K> True" only
  std::set<std::string> customOptions;
};

std::string keywordAt(const std::string& line, std::size_t start) {
  return line.substr(start, line.find_first_of("/: \t\r", start) - start);
}

CustomParam paramOf(const std::string& line) {
  std::istringstream words(line.substr(line.find(':') + 1));
  CustomParam param;
  int order = 0;
  words >> order >> param.type >> param.min >> param.max;
  return param;
}

// Reads the option blocks, custom page size and custom options of a PPD.
PpdFacts factsOf(const std::string& ppd) {
  PpdFacts facts;
  PpdOption* current = nullptr;
  std::istringstream lines(ppd);
  for (std::string line; std::getline(lines, line);) {
    const bool jcl = line.starts_with("*JCLOpenUI *");
    if (line.starts_with("*OpenUI *") || jcl) {
      const std::string type = line.substr(line.rfind(':') + 1);
      current = nullptr;
      if (type.find("PickOne") == std::string::npos && type.find("Boolean") == std::string::npos) continue;
      facts.options.push_back({keywordAt(line, jcl ? 12 : 9), jcl, {}, {}});
      current = &facts.options.back();
    } else if (line.starts_with("*CloseUI") || line.starts_with("*JCLCloseUI")) {
      current = nullptr;
    } else if (line.starts_with("*CustomPageSize True")) {
      facts.customPageSize = true;
    } else if (line.starts_with("*ParamCustomPageSize Width:")) {
      facts.width = paramOf(line);
    } else if (line.starts_with("*ParamCustomPageSize Height:")) {
      facts.height = paramOf(line);
    } else if (line.starts_with("*ParamCustom")) {
      facts.customParams[keywordAt(line, 12)].push_back(paramOf(line));
    } else if (line.starts_with("*Custom") && line.find(" True") == 7 + keywordAt(line, 7).size()) {
      facts.customOptions.insert(keywordAt(line, 7));
    } else if (current != nullptr && line.starts_with("*Default" + current->keyword + ":")) {
      std::istringstream value(line.substr(current->keyword.size() + 9));
      value >> current->defaultChoice;
    } else if (current != nullptr && line.starts_with("*" + current->keyword + " ")) {
      current->choices.push_back(keywordAt(line, current->keyword.size() + 2));
    }
  }
  return facts;
}

double clamped(double value, const CustomParam& range) { return std::clamp(value, range.min, range.max); }

// A value that the custom parameter accepts, or "" for a kind not tried.
std::string customValueFor(const CustomParam& param) {
  char text[64];
  const auto length = [&](double wanted) { return static_cast<std::size_t>(clamped(wanted, param)); };
  if (param.type == "passcode" || param.type == "password") return std::string("1234567890").substr(0, length(4));
  if (param.type == "string") return std::string("acc42xyzuvw").substr(0, length(5));
  if (param.type == "int") return std::to_string(static_cast<long>(clamped(42, param)));
  if (param.type != "real" && param.type != "points" && param.type != "curve" && param.type != "invcurve") return "";
  std::snprintf(text, sizeof text, "%g", clamped(42, param));
  return text;
}

std::string otherChoice(const PpdOption& option) {
  for (const std::string& choice : option.choices) {
    if (choice != option.defaultChoice && !choice.empty()) return choice;
  }
  return "";
}

// Three to five choices an administrator would make on a queue of this PPD.
std::vector<CorpusSetting> choicesFor(const PpdFacts& facts) {
  std::vector<CorpusSetting> settings;
  // The page region follows the page size; libcups unmarks the input slot
  // when manual feed is marked, so choosing both would keep neither.
  std::set<std::string> taken = {"PageRegion", "ManualFeed"};
  const auto take = [&](const std::string& option, const std::string& value) {
    if (value.empty() || taken.contains(option)) return;
    settings.push_back({option, value});
    taken.insert(option);
  };
  const auto jcl = std::find_if(facts.options.begin(), facts.options.end(),
                                [](const PpdOption& o) { return o.jcl && !otherChoice(o).empty(); });
  if (jcl != facts.options.end()) take(jcl->keyword, otherChoice(*jcl));
  for (const PpdOption& option : facts.options) {
    if (option.keyword != "PageSize") continue;
    char size[64];
    std::snprintf(size, sizeof size, "Custom.%gx%g", clamped(300, facts.width), clamped(400, facts.height));
    take("PageSize", facts.customPageSize ? std::string(size) : otherChoice(option));
  }
  for (const PpdOption& option : facts.options) {
    const auto params = facts.customParams.find(option.keyword);
    if (!facts.customOptions.contains(option.keyword) || params == facts.customParams.end() ||
        params->second.size() != 1 || customValueFor(params->second[0]).empty())
      continue;
    take(option.keyword, "Custom." + customValueFor(params->second[0]));
    break;
  }
  for (const PpdOption& option : facts.options) {
    if (settings.size() >= 5) break;
    if (!option.jcl) take(option.keyword, otherChoice(option));
  }
  return settings;
}

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
// as the option's default (a custom value as "Custom.<parameters>").
bool kept(const CorpusSetting& setting, const std::string& ppd, const QueueOptions& shown) {
  const auto option = shown.find(setting.option);
  if (defaultLineValue(ppd, setting.option) != setting.value || option == shown.end()) return false;
  const std::string& marked = option->second.defaultChoice;
  return marked == setting.value || (setting.value.starts_with("Custom.") && marked.starts_with("Custom."));
}

std::set<std::string> failuresOf(SandboxHost& host, const std::string& path) {
  std::set<std::string> failures;
  std::istringstream lines(host.run({"/usr/bin/cupstestppd", "-W", "none", path}).out);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("**FAIL**") != std::string::npos) failures.insert(line.substr(line.find_first_not_of(" \t")));
  }
  return failures;
}

std::string number(std::size_t i) {
  char text[24];
  std::snprintf(text, sizeof text, "%02zu", i);
  return text;
}

// What one PPD of the corpus is made of on the host.
struct CorpusQueues {
  std::string setupQueue, cupsQueue, oldCopy, peerModel, peerPath;
  std::string cupsPPD;
  QueueOptions cupsShown;
};

// Dresses the PPD, installs it as the product's new PPD and as a model the
// scheduler offers, and makes both queues with the choices.
std::string prepare(SandboxHost& host, RealCups& cups, std::size_t i, std::string_view model, CorpusPPD& ppd,
                    CorpusQueues& queues) {
  if (ppd.uri.find('\'') != std::string::npos) return "unusable URI";
  const std::string original = readCommand(std::string(kDriver) + " cat '" + ppd.uri + "' 2>/dev/null");
  if (!original.starts_with("*PPD-Adobe")) return "the driver gave no PPD";
  const std::string dressed = dressedAsProduct(original, model);
  ppd.settings = choicesFor(factsOf(dressed));
  const std::string name = "Corpus" + number(i) + ".ppd";
  queues = {"vela" + number(i), "cups" + number(i), "/root/corpus/old-" + name, "vela-corpus/" + name,
            std::string(kPeerModels) + "/" + name, {}, {}};
  host.writeFile("/root/corpus/" + name, dressed);
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
  host.writeFile(queues.oldCopy, host.readFile("/etc/cups/ppd/" + queues.setupQueue + ".ppd"));
  return "";
}

// setup's result for one PPD: what it kept, what cupstestppd now finds.
void judge(SandboxHost& host, RealCups& cups, const CorpusQueues& queues, CorpusPPD& ppd) {
  const std::string queuePPD = "/etc/cups/ppd/" + queues.setupQueue + ".ppd";
  const std::string merged = host.readFile(queuePPD);
  const QueueOptions shown = cups.options(queues.setupQueue);
  for (CorpusSetting& setting : ppd.settings) {
    setting.keptBySetup = kept(setting, merged, shown);
    setting.keptByCups = kept(setting, queues.cupsPPD, queues.cupsShown);
  }
  std::set<std::string> known = failuresOf(host, queues.oldCopy);
  known.merge(failuresOf(host, queues.peerPath));
  for (const std::string& failure : failuresOf(host, queuePPD)) {
    if (!known.contains(failure)) ppd.newFailures.push_back(failure);
  }
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
      if (s.keptByCups && !s.keptBySetup) lines.push_back(ppd.uri + ": " + s.option + "=" + s.value + " lost by setup");
    }
    for (const std::string& failure : ppd.newFailures) lines.push_back(ppd.uri + ": new " + failure);
    if (!ppd.printed) lines.push_back(ppd.uri + ": the job did not reach the device");
  }
  return lines;
}

std::vector<std::string> corpusUris() {
  std::vector<std::string> uris;
  std::ifstream list(std::getenv("VELA_CORPUS_LIST") ? std::getenv("VELA_CORPUS_LIST") : VELA_SOURCE_DIR "/sandbox/ppd_corpus.list");
  for (std::string line; std::getline(list, line);) {
    if (!line.empty() && line[0] != '#') uris.push_back(line);
  }
  return uris;
}

std::string corpusUnavailableReason() {
  if (std::string why = RealCups::unavailableReason(); !why.empty()) return why;
  if (::access(kDriver, X_OK) != 0) return "openprinting-ppds is not installed";
  if (::access("/usr/bin/cupstestppd", X_OK) != 0) return "cupstestppd is not installed";
  return "";
}

CorpusRun compareWithCups(const std::vector<std::string>& uris) {
  CorpusRun run;
  SandboxHost host;
  RealCups cups(host);
  host.installProduct("/opt/tam");
  host.shell("rm -f /opt/tam/ppd/*");
  host.makeDirs(kPeerModels);
  const std::vector<std::string_view> models = distinctModels();
  if (uris.size() > models.size()) {
    run.error = "more PPDs than models";
    return run;
  }

  std::vector<CorpusQueues> queues(uris.size());
  for (std::size_t i = 0; i < uris.size(); ++i) {
    run.ppds.push_back({uris[i], {}, {}, false, {}});
    CorpusPPD& ppd = run.ppds.back();
    ppd.problem = prepare(host, cups, i, models[i], ppd, queues[i]);
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
  for (std::size_t i = 0; i < uris.size(); ++i) {
    if (!run.ppds[i].problem.empty()) continue;
    judge(host, cups, queues[i], run.ppds[i]);
    cups.print(queues[i].setupQueue, "/root/page.txt");
  }
  for (std::size_t i = 0; i < uris.size(); ++i) {
    const std::string device = std::string(RealCups::kOutputDir) + "/" + queues[i].setupQueue;
    run.ppds[i].printed = cups.waitForJobsDone(queues[i].setupQueue, 120) && host.exists(device);
  }
  return run;
}
