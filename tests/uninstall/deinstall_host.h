// A sandbox host laid out as a finished installation leaves it, ready for
// `setup -d`: the product's files under /opt/tam, the filter link, stub
// lpadmin and lpstat, and a /dev of the view's own so that no device entry
// named after a queue can reach the machine's.
#pragma once

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <string>
#include <vector>

#include "support/sandbox_host.h"

inline constexpr const char* kLpadmin = "/usr/sbin/lpadmin";
inline constexpr const char* kLpstat = "/usr/bin/lpstat";

inline void usePrivateDev(SandboxHost& host) {
  const int rc = host.inside([] {
    if (mount("sandbox-dev", "/dev", "tmpfs", MS_NOSUID, "mode=0755") != 0) return 1;
    if (mknod("/dev/null", S_IFCHR | 0666, makedev(1, 3)) != 0) return 2;
    return chmod("/dev/null", 0666) == 0 ? 0 : 3;
  });
  ASSERT_EQ(rc, 0) << "private /dev";
}

// An information file whose printers block holds the given lines verbatim.
inline std::string infoFile(const std::string& printerLines) {
  return "#\n# Vela 4.0 Information File\n#\n%%KORBLOCK_GENERAL_BEGIN\nUSRDIR          /opt/tam\n"
         "%%KORBLOCK_GENERAL_END\n#\n#\n%%KORBLOCK_PRINTERS_BEGIN\n" +
         printerLines + "%%KORBLOCK_PRINTERS_END\n#\n#\n%%KOREND\n";
}

inline void installForRemoval(SandboxHost& host, const std::string& info, int lpadminStatus = 0) {
  usePrivateDev(host);
  host.installSetup("/opt/tam/bin");
  host.writeFile("/opt/tam/velaInfo4.0", info);
  for (const char* path : {"/opt/tam/vela", "/opt/tam/bin/korgsfilter", "/opt/tam/etc/UNINSTALLVELA",
                           "/opt/tam/etc/vela4.0.png", "/opt/tam/VELAINST.CONF", "/opt/tam/etc/VELAINST.CONF",
                           "/opt/tam/bin/nc", "/opt/tam/Default/velaConfig", "/opt/tam/ppd/Marlo.ppd"}) {
    host.writeFile(path, "x\n");
  }
  host.makeSymlink("/opt/tam/bin/korgsfilter", "/usr/bin/korgsfilter");
  host.installStub(kLpadmin, lpadminStatus);
  host.installStub(kLpstat, 0);
}

inline RunResult runDeinstall(SandboxHost& host, const std::string& printSystem = "CUPS",
                              const std::string& answer = "yes\n") {
  return host.run({"/opt/tam/bin/setup", "-d"}, {.stdinText = answer, .env = {"KORLPMODE=" + printSystem}});
}

inline int countOf(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}
