// The UNINSTALLVELA script: a plain shell script left in the installation's
// etc directory with which an administrator removes the product's files by
// hand. It is replaced whole, so a failed write keeps the previous script,
// and only when it would say something else: a script that differs only in
// its date is left as it is, date included, so that a re-run of an
// up-to-date host changes no file and the date tells when the script last
// changed.
#include "install/uninstall_script.h"

#include <sys/stat.h>

#include <cstdio>
#include <ctime>

#include "driver/atomic_file.h"
#include "driver/host_changes.h"
#include "driver/regular_file.h"
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

constexpr const char* kDateLine = "# De-installation script of Vela 3.0 dated: ";

// The helper functions and the question, up to the confirmed answer.
std::string scriptHead(const std::string& rm) {
  std::string text = "#!/bin/sh\n#\n" + std::string(kDateLine) + asctimeNow();
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

// The script's text without its date line.
std::string undated(const std::string& script) {
  const std::size_t at = script.find(std::string("\n") + kDateLine);
  if (at == std::string::npos) return script;
  const std::size_t end = script.find('\n', at + 1);
  return script.substr(0, at + 1) + (end == std::string::npos ? std::string() : script.substr(end + 1));
}

// Whether the script at path already says text, apart from the date, with
// the mode and owner it is given.
bool alreadyThere(const std::string& path, const std::string& text, int uid, int gid) {
  const std::string readable = host().readablePath(path);
  std::FILE* file = openRegularFile(readable);
  if (file == nullptr) return false;
  std::string present;
  char buffer[4096];
  std::size_t length;
  while ((length = std::fread(buffer, 1, sizeof buffer, file)) > 0 && present.size() <= 2 * text.size()) {
    present.append(buffer, length);
  }
  struct stat info {};
  const bool same = fstat(fileno(file), &info) == 0 && (info.st_mode & 07777) == 0755 &&
                    static_cast<int>(info.st_uid) == uid && static_cast<int>(info.st_gid) == gid &&
                    undated(present) == undated(text);
  std::fclose(file);
  return same;
}

}  // namespace

void writeUninstallScript() {
  const SetupSettings& s = settings();
  const std::string path = scriptPath();
  const std::string rm = s.rm.empty() ? std::string("rm") : s.rm;
  const std::string text = scriptHead(rm) + scriptDeletions(s.installDir, s.ppdInstallDir);
  if (alreadyThere(path, text, s.userId, s.groupId)) {
    logLine(strFormat("Script %s is up to date: left as it is.", path.c_str()));
    return;
  }
  AtomicFile script(path);
  script.write(text);
  if (!script.commit(0755, s.userId, s.groupId)) {
    // Whether the file could not be made or not be filled, the message is
    // the same; the reason follows on its own line.
    logLine(strFormat("Cannot open file:\n\t'%s',\nPlease check and try again.", path.c_str()));
    logLine(strFormat("Could not write %s: %s. The previous script is kept.", path.c_str(), script.error().c_str()));
    return;
  }
  logLine(strFormat("Created script: %s.", path.c_str()));
}
