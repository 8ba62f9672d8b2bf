// Writing the run's report. The document is built with nlohmann::json from
// the run's account and the settings that discovery filled, and replaces the
// previous report only when it is complete (written beside and renamed, so
// a link at its name is replaced, never followed).
#include "driver/run_report.h"

#include <nlohmann/json.hpp>

#include "discovery/cups_restart.h"
#include "discovery/print_system.h"
#include "driver/atomic_file.h"
#include "driver/host_changes.h"
#include "driver/run_account.h"
#include "driver/settings.h"
#include "driver/text.h"

namespace {

// Keys stay in the order written, so the report reads top-down.
using json = nlohmann::ordered_json;

const char* runKind(const SetupSettings& s) {
  if (s.deinstall) return "deinstall";
  if (s.restore) return "restore";
  return s.upgradeMode == 0 ? "install" : "upgrade";
}

const char* installationMode(const SetupSettings& s) {
  if (s.deinstall || s.restore) return "none";
  return s.upgradeMode == 0 ? "new" : s.upgradeMode == 1 ? "upgrade-from-2.0" : "upgrade";
}

json hostOf(const SetupSettings& s) {
  return {{"printSystem", printSystemName(s.printSystem)}, {"cupsVersion", s.cupsVersion},
          {"cupsBaseDir", s.cupsBaseDir},                  {"cupsBinDir", s.cupsBinDir},
          {"cupsDataDir", s.cupsDataDir},                  {"cupsModelDir", s.cupsModelDir},
          {"ppdInstallDir", s.ppdInstallDir},              {"selinux", s.selinux != 0}};
}

json settingOf(const SettingDecision& decision) {
  json setting = {{"option", decision.option}, {"value", decision.value}, {"carried", decision.carried}};
  if (!decision.reason.empty()) setting["reason"] = decision.reason;
  if (!decision.carried || !decision.newDefault.empty()) setting["newDefault"] = decision.newDefault;
  return setting;
}

// The model's name: the PPD's "*ModelName:" text without its quotes.
std::string modelName(const std::string& text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') return text.substr(1, text.size() - 2);
  return text;
}

json queueOf(const QueueAccount& queue) {
  json settings = json::array();
  for (const SettingDecision& decision : queue.settings) settings.push_back(settingOf(decision));
  json entry = {{"queue", queue.queue},     {"ppd", queue.ppd},         {"cupsCopy", queue.cupsCopy},
                {"model", modelName(queue.model)}, {"newPPD", queue.newPPD}, {"outcome", queue.outcome},
                {"backup", queue.backup},   {"settings", settings}};
  if (!queue.reason.empty()) entry["reason"] = queue.reason;
  return entry;
}

// The counts are of queues; CUPS's copies beside their PPDs have their own.
json summaryOf(const RunCounts& c) {
  const CupsCopyCounts& copies = c.cupsCopies;
  return {{"updated", c.updated},   {"upToDate", c.upToDate},       {"kept", c.kept},
          {"noNewPPD", c.noNewPPD}, {"skipped", c.skipped},         {"restored", c.restored},
          {"notRestored", c.notRestored}, {"removed", c.removed}, {"notRemoved", c.notRemoved}, {"settingsNotCarried", c.settingsNotCarried},
          {"cupsCopies", {{"updated", copies.updated}, {"upToDate", copies.upToDate}, {"kept", copies.kept},
                          {"noNewPPD", copies.noNewPPD}, {"skipped", copies.skipped},
                          {"settingsNotCarried", copies.settingsNotCarried}}}};
}

json reportOf(const RunAccount& account, const SetupSettings& s) {
  json report = {{"version", "4.0-5"}, {"run", runKind(s)},          {"preview", s.preview != 0},
                 {"started", account.started}, {"finished", account.finished}, {"completed", account.completed}};
  if (!account.completed) report["reason"] = account.reason;
  report["changed"] = runChangedHost(account, !s.deinstall && !s.restore && s.upgradeMode == 0);
  report["host"] = hostOf(s);
  report["installation"] = {{"mode", installationMode(s)},
                            {"directory", s.installDir},
                            {"filesCopied", account.filesCopied},
                            {"filesFailed", account.filesFailed},
                            {"filesChanged", account.filesChanged}};
  // A preview tells whether the run would restart CUPS, and how many jobs print now.
  const CupsRestartAccount& restart = cupsRestartAccount();
  report["cupsRestarted"] = s.preview ? cupsRestartDone() && restart.leftAloneBecause.empty() : restart.restarted;
  report["restart"] = {{"waitedSeconds", restart.waitedSeconds},
                       {s.preview ? "printingNow" : "printingAtStart", restart.printingAtStart},
                       {"stillPrinting", restart.stillPrinting},
                       {"gaveUp", restart.gaveUp}};
  // A run that chose not to restart says why.
  if (!restart.leftAloneBecause.empty()) report["restart"]["reason"] = restart.leftAloneBecause;
  json queues = json::array();
  for (const QueueAccount& queue : account.queues) queues.push_back(queueOf(queue));
  report["queues"] = queues;
  if (s.deinstall) {
    json files = json::array();
    for (const FileAccount& file : account.files) files.push_back({{"path", file.path}, {"result", file.result}});
    report["files"] = files;
  }
  report["summary"] = summaryOf(countRun(account));
  return report;
}

}  // namespace

std::string runReportPath() {
  const SetupSettings& s = settings();
  const std::string base = s.preview ? "/var/log/Vela4.0_PreviewReport" : "/var/log/Vela4.0_UpdateReport";
  // Like the log, a user other than root gets a name of its own.
  return base + (s.userId != 0 ? strFormat("_%d", s.userId) : std::string()) + ".json";
}

bool writeRunReport(const std::string& path, std::string& error) {
  // A preview writes its report for real: it is the preview's answer.
  AtomicFile file(path, realHost());
  // Invalid UTF-8 from a PPD or a file name is replaced, never fatal.
  file.write(reportOf(runAccount(), settings()).dump(2, ' ', false, json::error_handler_t::replace) + "\n");
  if (!file.commit(0644)) {
    error = file.error();
    return false;
  }
  return true;
}
