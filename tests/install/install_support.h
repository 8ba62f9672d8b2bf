// Shared pieces of the installation behaviour tests: run options, the
// expected information file and uninstall script, and log helpers.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/sandbox_host.h"

inline constexpr const char* kSetup = "/opt/tam/bin/setup";

inline RunOptions cupsHost(std::string stdinText = "") {
  return {.stdinText = std::move(stdinText), .env = {"KORLPMODE=CUPS"}};
}

inline std::string expectedInfoFile(const std::string& installDir) {
  return "#\n# Vela 4.0 Information File\n#\n%%KORBLOCK_GENERAL_BEGIN\nUSRDIR          " + installDir +
         "\nHOMEDIR         $HOME\nTMPDIR          /tmp\n%%KORBLOCK_GENERAL_END\n#\n#\n"
         "%%KORBLOCK_PRINTERS_BEGIN\nDefault\n%%KORBLOCK_PRINTERS_END\n#\n#\n"
         "%%KORBLOCK_USERS_BEGIN\nroot\n%%KORBLOCK_USERS_END\n#\n#\n"
         "%%KORBLOCK_PRNT_BEGIN Default\nroot\n%%KORBLOCK_PRNT_END Default\n#\n#\n%%KOREND\n";
}

// The script's deletion lines, the part after the question.
inline std::string expectedDeletions(const std::string& dir, const std::string& ppdDir) {
  return "delFile " + dir + "/velaInfo4.0\ndelFile " + dir + "/bin/korgsfilter\ndelFile " + dir +
         "/bin/nc\ndelFile /usr/bin/korgsfilter\ndelFile " + dir + "/bin/setup\ndelFile " + dir +
         "/etc/vela4.0.png\ndelFile " + dir + "/etc/VELAINST.CONF\ndelFile " + dir + "/VELAINST.CONF\ndelDir " +
         ppdDir + "/ppd\ndelDir " + dir + "/etc\ndelDir " + dir + "/bin\ndelDir " + dir + "\n";
}

// Every text of parts found in log, each after the one before.
inline void expectInOrder(const std::string& log, const std::vector<std::string>& parts) {
  std::size_t from = 0;
  for (const std::string& part : parts) {
    const std::size_t at = log.find(part, from);
    ASSERT_NE(at, std::string::npos) << "missing, or out of order: \"" << part << "\"\nin:\n" << log;
    from = at + part.size();
  }
}

inline bool logHas(const std::string& log, const std::string& text) { return log.find(text) != std::string::npos; }

// The PPD installation directory the run settled on, from its last log line.
inline std::string ppdInstallDirOf(const std::string& log) {
  const std::string key = "PPD installation dir: ";
  const std::size_t at = log.rfind(key);
  if (at == std::string::npos) return "";
  const std::size_t from = at + key.size();
  return log.substr(from, log.find('\n', from) - from);
}
