// The upgrade scenario that the end-to-end tests and the demo share: a host
// with the real scheduler, the product unpacked in /opt/tam, two queues made
// from the product's previous PPD generation with defaults an administrator
// chose, and one queue of another maker.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "support/real_cups.h"
#include "support/sandbox_host.h"

struct ScenarioQueue {
  std::string name;
  std::string ppdSource;              // on the real machine
  std::vector<std::string> settings;  // lpadmin -o values
};

// lab1 is a PCL model (its jobs go through the product's filter), lab2 a
// PostScript model whose jobs reach the device as PostScript.
inline std::vector<ScenarioQueue> productQueues() {
  const std::string old = VELA_OLD_PPD_DIR;
  return {
      {"lab1", old + "/Marlo_Tessel_1200dn-PCL.ppd", {"PageSize=A5", "Duplex=DuplexTumble"}},
      {"lab2", old + "/Marlo_Corvane_C210dn-PS.ppd", {"PageSize=Legal", "InputSlot=Manual", "Resolution=1200dpi"}},
  };
}

inline ScenarioQueue foreignQueue() {
  return {"other", VELA_SOURCE_DIR "/tests/e2e/data/other-laser.ppd", {"PageSize=Legal", "Duplex=DuplexTumble"}};
}

inline std::string queuePpdPath(const std::string& queue) { return "/etc/cups/ppd/" + queue + ".ppd"; }

// Makes the queue from its PPD with the real lpadmin and sets its defaults.
// Empty on success, else what failed.
inline std::string addScenarioQueue(SandboxHost& host, RealCups& cups, const ScenarioQueue& queue) {
  const std::string inView = "/root/ppd-sources/" + queue.name + ".ppd";
  host.copyIn(queue.ppdSource, inView);
  const RunResult added = cups.addQueue(queue.name, inView);
  if (added.status != 0) return "lpadmin -p " + queue.name + ": " + added.err;
  const RunResult set = cups.setDefaults(queue.name, queue.settings);
  if (set.status != 0) return "lpadmin -o for " + queue.name + ": " + set.err;
  return {};
}

// The whole host before the upgrade. Empty on success, else what failed.
inline std::string prepareUpgradeHost(SandboxHost& host, RealCups& cups) {
  host.installProduct("/opt/tam");
  for (const ScenarioQueue& queue : productQueues()) {
    const std::string failed = addScenarioQueue(host, cups, queue);
    if (!failed.empty()) return failed;
  }
  return addScenarioQueue(host, cups, foreignQueue());
}

// The PPD text of a file in the view, unpacked when it is gzip-compressed.
inline std::string ppdTextInView(SandboxHost& host, const std::string& path) {
  if (!path.ends_with(".gz")) return host.readFile(path);
  return host.run({"/bin/gzip", "-dc", path}).out;
}

// The lines of a PPD text without its "*Default" lines: what a merge of old
// defaults into a new PPD must leave as it was.
inline std::string withoutDefaultLines(const std::string& ppd) {
  std::istringstream lines(ppd);
  std::string kept;
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("*Default")) kept += line + "\n";
  }
  return kept;
}

// Adds queue names to the printers block of an information file's text, as
// an administrator's earlier installation would have listed them.
inline std::string withPrinters(const std::string& info, const std::vector<std::string>& queues) {
  const std::string marker = "%%KORBLOCK_PRINTERS_END\n";
  const std::size_t end = info.find(marker);
  if (end == std::string::npos) return info;
  std::string names;
  for (const std::string& queue : queues) names += queue + "\n";
  return info.substr(0, end) + names + info.substr(end);
}
