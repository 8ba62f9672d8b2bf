// The UNINSTALLVELA script: a plain shell script left in the installation's
// etc directory with which an administrator removes the product's files by
// hand. It is replaced whole, so a failed write keeps the previous script.
#include "install/uninstall_script.h"

#include <ctime>

#include "driver/atomic_file.h"
#include "driver/settings.h"
#include "driver/shell.h"
#include "driver/text.h"
#include "driver/update_log.h"

namespace {

std::string scriptPath() {
  const std::string& dir = settings().installDir;
  return (dir.empty() ? std::string("/opt/tam") : dir) + "/etc/UNINSTALLVELA";
}

std::string asctimeNow() {
  const std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  const char* text = local != nullptr ? std::asctime(local) : nullptr;
  return text != nullptr ? text : "\n";
}

// The helper functions and the question, up to the confirmed answer.
std::string scriptHead(const std::string& rm) {
  std::string text = "#!/bin/sh\n#\n# De-installation script of Vela 3.0 dated: " + asctimeNow();
  // "$1" is quoted: a name holding blanks or wildcards is that one name.
  text += "#\n#Delete a file\n#Syntax : delFile $fileName\n#\ndelFile()\n{\nif [ -f \"$1\" ] ; then\n";
  text += "  " + rm + " \"$1\"\nfi\n}\n";
  text += "#\n#Delete a directory\n#Syntax : delDir $dirName\ndelDir()\n{\nif [ -d \"$1\" ] ; then\n";
  text += "  " + rm + " -rf \"$1\"\nfi\n}\n";
  text += "#\n#\n# Get a yes or no answer from the user.  Argument 1 is prompt, 2 is default.\n#\n";
  text += "yorn()\n{\n";
  text += "        if [ \"$2\" = \"\" ] ; then\n                prompt=\"$1? \"\n        else\n";
  text += "                prompt=\"$1 [$2]? \"\n        fi\n \n";
  text += "        while true ; do\n                echo \"$prompt\"\n                read input\n";
  text += "                parsed=$input\n \n";
  text += "                if [ \"$parsed\" = \"\" ] ; then\n                        answer=$2\n";
  text += "                else\n                        answer=$input\n                fi\n \n";
  text += "                case $answer in\n                [oO]|[yY]|[yY][eE][sS])\n";
  text += "                        return 0 ; break ;;\n                [nN]|[nN][oO])\n";
  text += "                        return 1 ; break ;;\n                *)\n";
  text += "                        echo \"Answer with yes or no please.\"\n                esac\n";
  text += "        done\n}\n#\n";
  text += "echo \"De-installation of 'Vela 4.0-0'\"\n";
  text += "yorn \"Do you really want to de-install Vela 3.0?\" \"no\"\n";
  text += "it_is=$?\nif [ $it_is -ne 0 ] ; then\n  exit\nfi\n";
  return text;
}

// The deletions. Directories go in as shell words, so an unusual name is
// one quoted word rather than shell syntax.
std::string scriptDeletions(const std::string& installDir, const std::string& ppdDir) {
  const std::string dir = installDir.empty() ? std::string() : shellWord(installDir);
  const std::string ppd = ppdDir.empty() ? std::string() : shellWord(ppdDir);
  std::string text;
  for (const char* file : {"/velaInfo4.0", "/bin/korgsfilter", "/bin/nc"}) text += "delFile " + dir + file + "\n";
  text += "delFile /usr/bin/korgsfilter\n";
  for (const char* file : {"/bin/setup", "/etc/vela4.0.png", "/etc/VELAINST.CONF", "/VELAINST.CONF"}) {
    text += "delFile " + dir + file + "\n";
  }
  text += "delDir " + ppd + "/ppd\n";
  for (const char* sub : {"/etc", "/bin", ""}) text += "delDir " + dir + sub + "\n";
  return text;
}

}  // namespace

void writeUninstallScript() {
  const SetupSettings& s = settings();
  const std::string path = scriptPath();
  AtomicFile script(path);
  const std::string rm = s.rm.empty() ? std::string("rm") : s.rm;
  script.write(scriptHead(rm) + scriptDeletions(s.installDir, s.ppdInstallDir));
  if (!script.commit(0755, s.userId, s.groupId)) {
    // Whether the file could not be made or not be filled, the message is
    // the same; the reason follows on its own line.
    logLine(strFormat("Cannot open file:\n\t'%s',\nPlease check and try again.", path.c_str()));
    logLine(strFormat("Could not write %s: %s. The previous script is kept.", path.c_str(), script.error().c_str()));
    return;
  }
  logLine(strFormat("Created script: %s.", path.c_str()));
}
