// The README demo: on a throwaway view of this machine with its own CUPS
// scheduler, two queues of the product's previous PPD generation (with
// defaults an administrator chose) and one queue of another maker are
// upgraded by /opt/tam/bin/setup. It shows the log and each queue's options
// before and after, prints a test page, and leaves nothing behind.
#include <cstdio>
#include <exception>
#include <iostream>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "sandbox/upgrade_scenario.h"
#include "sandbox/real_cups.h"
#include "sandbox/sandbox_host.h"

namespace {

std::vector<std::string> demoQueues() {
  std::vector<std::string> names;
  for (const ScenarioQueue& queue : productQueues()) names.push_back(queue.name);
  names.push_back(foreignQueue().name);
  return names;
}

// A line with its control characters shown as <1B>, safe for a terminal.
std::string printable(const std::string& line) {
  std::string shown;
  for (unsigned char c : line) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "<%02X>", c);
    shown += c < 32 || c == 127 ? std::string(hex) : std::string(1, static_cast<char>(c));
  }
  return shown;
}

void heading(const std::string& title) { std::cout << "\n==== " << title << " ====\n"; }

// One line per option: its default before and after, marked when it changed.
void showComparison(const std::string& queue, const QueueOptions& before, const QueueOptions& after) {
  std::cout << "\nQueue " << queue << ":\n";
  std::map<std::string, std::pair<std::string, std::string>> rows;
  for (const auto& [name, option] : before) rows[name].first = option.defaultChoice;
  for (const auto& [name, option] : after) rows[name].second = option.defaultChoice;
  std::printf("  %-14s %-16s %-16s\n", "option", "before", "after");
  for (const auto& [name, values] : rows) {
    const std::string was = values.first.empty() ? "-" : values.first;
    const std::string now = values.second.empty() ? "-" : values.second;
    const char* note = !before.contains(name) ? "  (new in this PPD)" : was != now ? "  (changed)" : "";
    std::printf("  %-14s %-16s %-16s%s\n", name.c_str(), was.c_str(), now.c_str(), note);
  }
  std::fflush(stdout);
}

int runDemo() {
  heading("A sandboxed demo host with the real CUPS scheduler");
  SandboxHost host;
  RealCups cups(host);
  std::cout << "lpstat -r: " << host.run({"/usr/bin/lpstat", "-r"}).out;

  const std::string failed = prepareUpgradeHost(host, cups);
  if (!failed.empty()) {
    std::cerr << "vela_demo: the demo host could not be prepared: " << failed << "\n";
    return 1;
  }
  std::map<std::string, QueueOptions> before;
  heading("Queues before the upgrade (lpoptions -p QUEUE -l)");
  for (const ScenarioQueue& queue : productQueues()) {
    std::cout << queue.name << ": previous Vela PPD " << queue.ppdSource.substr(queue.ppdSource.rfind('/') + 1)
              << ", administrator set";
    for (const std::string& setting : queue.settings) std::cout << " " << setting;
    std::cout << "\n";
  }
  std::cout << "other: a PPD of another maker\n";
  for (const std::string& queue : demoQueues()) {
    before[queue] = cups.options(queue);
    std::cout << "\n" << queue << ":\n" << cups.lpoptions(queue).out;
  }

  RunOptions asRoot;
  asRoot.timeoutSeconds = 300;
  heading("Previewing the run first: /opt/tam/bin/setup -n (changes nothing)");
  std::cout << host.run({"/opt/tam/bin/setup", "-n"}, asRoot).out;

  heading("Running /opt/tam/bin/setup as root, no options");
  const RunResult run = host.run({"/opt/tam/bin/setup"}, asRoot);
  std::cout << run.out << "exit status " << run.status << "\n";
  if (!run.err.empty()) std::cout << "standard error:\n" << run.err;

  heading("The report, /var/log/Vela4.0_UpdateReport.json (the copied files' list shortened)");
  nlohmann::ordered_json report = nlohmann::ordered_json::parse(host.readFile("/var/log/Vela4.0_UpdateReport.json"));
  nlohmann::ordered_json& copied = report["installation"]["filesCopied"];
  if (copied.size() > 2) copied = {copied.front(), "... " + std::to_string(copied.size() - 2) + " more", copied.back()};
  std::cout << report.dump(2) << "\n";

  heading("The update log, /var/log/Vela4.0_UpdateLog");
  std::cout << (host.exists("/var/log/Vela4.0_UpdateLog") ? host.log() : std::string("(no log written)\n"));

  heading("Queues after the upgrade");
  if (!cups.waitUntilRunning(60)) std::cout << "The scheduler does not answer after the restart!\n";
  std::cout << host.run({"/usr/bin/lpstat", "-p"}).out;
  for (const std::string& queue : demoQueues()) {
    std::cout << "\n" << queue << ":\n" << cups.lpoptions(queue).out;
  }
  heading("Defaults before and after");
  for (const std::string& queue : demoQueues()) showComparison(queue, before.at(queue), cups.options(queue));

  heading("A test page to lab2, whose device is a file");
  host.writeFile("/root/page.txt", "A test page after the Vela upgrade.\n");
  const RunResult job = cups.print("lab2", "/root/page.txt");
  std::cout << job.out << job.err;
  const std::string output = std::string(RealCups::kOutputDir) + "/lab2";
  if (job.status == 0 && cups.waitForJobsDone("lab2", 60) && host.exists(output)) {
    const std::string page = host.readFile(output);
    std::cout << "The job reached " << output << ": " << page.size() << " bytes, starting with \""
              << printable(page.substr(0, page.find('\n'))) << "\".\n";
  } else {
    std::cout << "The job did not reach " << output << ".\n";
  }

  heading("Cleaning up");
  cups.stop();
  std::cout << "The scheduler is stopped; the sandbox and everything in it goes away now.\n";
  return 0;
}

}  // namespace

int main() {
  const std::string noSandbox = SandboxHost::unavailableReason();
  if (!noSandbox.empty()) {
    std::cerr << "vela_demo: cannot make the sandboxed demo host: " << noSandbox << "\n";
    return 1;
  }
  const std::string noCups = RealCups::unavailableReason();
  if (!noCups.empty()) {
    std::cerr << "vela_demo: " << noCups << " (run scripts/install-deps.sh first)\n";
    return 1;
  }
  try {
    return runDemo();
  } catch (const std::exception& e) {
    std::cerr << "vela_demo: " << e.what() << "\n";
    return 1;
  }
}
