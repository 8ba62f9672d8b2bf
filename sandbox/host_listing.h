// What a run may change on a sandbox host, as one comparable text: every
// entry of /etc, /opt, /usr and /var with its type, mode, owner and link
// target, files also with size, inode and change time (a write, chmod,
// chown or rename moves it), and a checksum of each file in /etc and /opt.
// Directories show no times: what is made or removed in them shows as an
// entry of its own. Lines naming a path that begins with one of leaveOut
// are left out.
#pragma once

#include <string>
#include <vector>

#include "sandbox/sandbox_host.h"

inline std::string hostListing(SandboxHost& host, const std::vector<std::string>& leaveOut = {}) {
  std::string filter;
  for (const std::string& path : leaveOut) filter += " | grep -v -F -e ' " + path + "'";
  const RunResult listed = host.shell(
      "t=$(ls -d /etc /opt /usr /var 2>/dev/null); s=$(ls -d /etc /opt 2>/dev/null);"
      "{ find $t -xdev -type d -printf '%y %p %m %U:%G\\n';"
      "  find $t -xdev ! -type d -printf '%y %p %m %U:%G %l %s %i %C@\\n';"
      "  find $s -xdev -type f -exec md5sum {} + | sed 's/^\\([0-9a-f]*\\)  \\(.*\\)$/md5 \\2 \\1/'; }" +
      filter + " | LC_ALL=C sort");
  EXPECT_EQ(listed.err, "");
  return listed.out;
}
