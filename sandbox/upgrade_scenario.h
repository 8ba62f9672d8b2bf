// The upgrade scenario that the end-to-end tests and the demo share: a host
// with the real scheduler, the product unpacked in /opt/tam, two queues made
// from the product's previous PPD generation with defaults an administrator
// chose, and one queue of another maker.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "sandbox/real_cups.h"

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
      {"lab1", old + "/Marlo_Tessel_1200dn-PCL.ppd", {"PageSize=A5", "Duplex=DuplexTumble", "JCLEconomode=On"}},
      {"lab2", old + "/Marlo_Corvane_C210dn-PS.ppd", {"PageSize=Legal", "InputSlot=Manual", "Resolution=1200dpi"}},
  };
}

inline ScenarioQueue foreignQueue() {
  return {"other", VELA_SOURCE_DIR "/sandbox/other-laser.ppd", {"PageSize=Legal", "Duplex=DuplexTumble"}};
}

// What lpoptions must show after the upgrade. The administrator's choices
// (the JCL toner saver among them) and the old PPD's untouched defaults are
// carried over; OutputBin is new in this generation and keeps the new PPD's
// default.
inline const std::map<std::string, std::map<std::string, std::string>>& expectedAfterUpgrade() {
  static const std::map<std::string, std::map<std::string, std::string>> expected = {
      {"lab1", {{"PageSize", "A5"}, {"Duplex", "DuplexTumble"}, {"InputSlot", "Tray1"}, {"Resolution", "300dpi"},
                {"OutputBin", "FaceDown"}, {"JCLEconomode", "On"}}},
      {"lab2", {{"PageSize", "Legal"}, {"Duplex", "DuplexNoTumble"}, {"InputSlot", "Manual"},
                {"Resolution", "1200dpi"}, {"OutputBin", "FaceDown"}, {"JCLEconomode", "On"}}},
  };
  return expected;
}

// Every queue of the scenario, made with the real lpadmin. Empty on
// success, else what failed.
inline std::string makeScenarioQueues(SandboxHost& host, RealCups& cups) {
  std::vector<ScenarioQueue> queues = productQueues();
  queues.push_back(foreignQueue());
  for (const ScenarioQueue& queue : queues) {
    const std::string inView = "/root/ppd-sources/" + queue.name + ".ppd";
    host.copyIn(queue.ppdSource, inView);
    const std::string failed = cups.addQueue(queue.name, inView, queue.settings);
    if (!failed.empty()) return failed;
  }
  return {};
}

// The whole host before the upgrade: the product and every queue.
inline std::string prepareUpgradeHost(SandboxHost& host, RealCups& cups) {
  host.installProduct("/opt/tam");
  return makeScenarioQueues(host, cups);
}
