// Print servers reached over SSH, for the roll-out playbook's test and benchmark: a
// controller view and one view per host, each host joined to the controller
// by a veth pair of its own that lives only in the two views' network
// namespaces (198.18.0.0/24, no interface or address ever appears on the real
// machine), sshd listening on the host's address and one key of the
// controller's authorised for root. Everything stops with the views.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sandbox/sandbox_host.h"

struct FleetHost {
  std::string name;
  std::string address;  // the host's end of its link
  std::unique_ptr<SandboxHost> view;
};

class Fleet {
 public:
  // The controller's private key, in the controller view.
  static constexpr const char* kKey = "/root/.ssh/fleet_key";
  // Where the roll-out's fetched logs and fleet summary go on the controller.
  static constexpr const char* kLogs = "/srv/fleet/logs";

  // Empty when sshd, ssh and ansible-playbook are at hand, else what is missing.
  static std::string unavailableReason();

  // Makes the views, links and sshd of every host, and waits until the
  // controller reaches each over SSH; throws when a step fails.
  explicit Fleet(const std::vector<std::string>& names);
  Fleet(const Fleet&) = delete;

  SandboxHost& controller() { return *controller_; }
  SandboxHost& host(const std::string& name);
  // One inventory line per host: its address, root with the key, the interpreter.
  std::string inventoryLines() const;
  // Puts the product archive, the playbook with its role and an inventory on
  // the controller: every host in print_servers, then the lines given.
  void stageRollOut(const std::string& moreInventory = "");
  // The playbook from the controller with the given extra options, bounded.
  RunResult rollOut(const std::string& options);

 private:
  void link(FleetHost& host, int index);
  void startSshd(FleetHost& host);
  void waitForSsh(const FleetHost& host);

  std::unique_ptr<SandboxHost> controller_;
  std::vector<FleetHost> hosts_;
};
