// Builds the fleet of sandbox print servers: veth links made from inside the
// controller's network namespace straight into each host's, sshd with a host
// key of the view's own, and the controller's key in root's authorized_keys.
#include "sandbox/fleet.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

namespace {

constexpr const char* kSshOptions = "-o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null";

// Runs `ip args...` of the real machine joined to the network namespace at
// nsPath only; true when it succeeded.
bool ipInNamespace(const std::string& nsPath, std::vector<std::string> args) {
  const pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    const int fd = ::open(nsPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) ::_exit(125);
    std::vector<char*> argv;
    args.insert(args.begin(), "ip");
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    ::execvp("ip", argv.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Throws with what failed unless the command succeeded.
void mustSucceed(const RunResult& result, const std::string& step) {
  if (result.status != 0) throw std::runtime_error(step + " failed: " + result.out + result.err);
}

}  // namespace

std::string Fleet::unavailableReason() {
  for (const char* tool : {"/usr/sbin/sshd", "/usr/bin/ssh", "/usr/bin/ssh-keygen", "/usr/bin/ansible-playbook"}) {
    if (::access(tool, X_OK) != 0) return std::string("no ") + tool + " (scripts/install-deps.sh installs it)";
  }
  return {};
}

Fleet::Fleet(const std::vector<std::string>& names) : controller_(std::make_unique<SandboxHost>()) {
  mustSucceed(controller_->shell(std::string("mkdir -p -m 700 /root/.ssh && ssh-keygen -q -t ed25519 -N '' -f ") + kKey),
              "ssh-keygen in the controller");
  for (const std::string& name : names) {
    hosts_.push_back({name, "", std::make_unique<SandboxHost>()});
    link(hosts_.back(), static_cast<int>(hosts_.size()) - 1);
    startSshd(hosts_.back());
  }
  for (const FleetHost& host : hosts_) waitForSsh(host);
}

SandboxHost& Fleet::host(const std::string& name) {
  for (FleetHost& host : hosts_) {
    if (host.name == name) return *host.view;
  }
  throw std::runtime_error("no fleet host " + name);
}

// A /30 of 198.18.0.0/24 per link: the controller's end .4i+1, the host's .4i+2.
void Fleet::link(FleetHost& host, int index) {
  const std::string controllerEnd = "to-" + host.name;
  const std::string prefix = "198.18.0.";
  host.address = prefix + std::to_string(4 * index + 2);
  const std::string hostNs = host.view->namespacePath("net");
  if (!ipInNamespace(controller_->namespacePath("net"),
                     {"link", "add", controllerEnd, "type", "veth", "peer", "name", "eth0", "netns", hostNs}))
    throw std::runtime_error("cannot link the controller to " + host.name);
  mustSucceed(controller_->shell("ip addr add " + prefix + std::to_string(4 * index + 1) + "/30 dev " + controllerEnd +
                                 " && ip link set " + controllerEnd + " up"),
              "addressing the controller's end to " + host.name);
  mustSucceed(host.view->shell("ip addr add " + host.address + "/30 dev eth0 && ip link set eth0 up"),
              "addressing " + host.name);
}

// sshd on the host's address only, its own host key, keys only, no PAM.
void Fleet::startSshd(FleetHost& host) {
  SandboxHost& view = *host.view;
  view.makeDirs("/root/.ssh", 0700);
  view.writeFile("/root/.ssh/authorized_keys", controller_->readFile(std::string(kKey) + ".pub"), 0600);
  view.writeFile("/etc/ssh/fleet_sshd_config",
                 "ListenAddress " + host.address + "\nHostKey /etc/ssh/fleet_host_key\n"
                 "PermitRootLogin prohibit-password\nPasswordAuthentication no\nKbdInteractiveAuthentication no\n"
                 "UsePAM no\nPidFile /run/fleet_sshd.pid\nSubsystem sftp /usr/lib/openssh/sftp-server\n");
  mustSucceed(view.shell("mkdir -p -m 755 /run/sshd && rm -f /etc/ssh/fleet_host_key* && "
                         "ssh-keygen -q -t ed25519 -N '' -f /etc/ssh/fleet_host_key && "
                         "/usr/sbin/sshd -f /etc/ssh/fleet_sshd_config -E /var/log/fleet_sshd.log"),
              "starting sshd on " + host.name);
}

// Tries an SSH login from the controller for at most about a minute.
void Fleet::waitForSsh(const FleetHost& host) {
  const std::string login = std::string("ssh -i ") + kKey + " " + kSshOptions +
                            " -o BatchMode=yes -o ConnectTimeout=2 root@" + host.address + " true";
  RunOptions bounded;
  bounded.timeoutSeconds = 120;
  mustSucceed(controller_->shell("for i in $(seq 40); do " + login + " 2>/dev/null && exit 0; sleep 0.5; done; " + login,
                                 bounded),
              "SSH from the controller to " + host.name);
}

// Root logs in, so the play's become needs no sudo (Ansible skips it for the
// same user); the interpreter is named, so no discovery runs per host.
std::string Fleet::inventoryLines() const {
  std::string lines;
  for (const FleetHost& host : hosts_) {
    lines += host.name + " ansible_host=" + host.address + " ansible_user=root ansible_ssh_private_key_file=" + kKey +
             " ansible_python_interpreter=/usr/bin/python3 ansible_ssh_common_args='" + kSshOptions + "'\n";
  }
  return lines;
}

void Fleet::stageRollOut(const std::string& moreInventory) {
  controller_->copyIn(VELA_ARCHIVE, "/srv/fleet/vela.tar.gz");
  controller_->copyIn(VELA_SOURCE_DIR "/contrib/ansible", "/srv/fleet");
  controller_->writeFile("/srv/fleet/hosts", "[print_servers]\n" + inventoryLines() + moreInventory);
}

RunResult Fleet::rollOut(const std::string& options) {
  RunOptions bounded;
  bounded.timeoutSeconds = 600;
  // Pipelining sends each task's module on the one SSH session instead of
  // copying it over first: a task costs one round trip, not four.
  bounded.env = {"ANSIBLE_FORCE_COLOR=0", "ANSIBLE_NOCOLOR=1", "ANSIBLE_PIPELINING=True"};
  return controller_->shell(std::string("ansible-playbook -i /srv/fleet/hosts /srv/fleet/vela.yml -e vela_log_dir=") +
                                kLogs + " -e vela_archive=/srv/fleet/vela.tar.gz " + options,
                            bounded);
}
