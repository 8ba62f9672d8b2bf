// Every change the installer makes to the host goes through one HostChanges
// object: the commands that change it, the directories, modes, links and
// removals, and the placing of whole new files. A run with -n puts the
// preview object in place at start-up; it changes nothing, logs each command
// it would run, and keeps a small view of what the run would have made,
// copied or removed, so that the later steps of the run see the host as the
// real run would have left it. Reading the host is not a change: only the
// few reads that must see the run's own earlier changes ask the view.
#pragma once

#include <memory>
#include <string>
#include <vector>

// One file a cp command makes: target, copied from source.
struct FileCopy {
  std::string source;
  std::string target;
};

class HostChanges {
 public:
  virtual ~HostChanges() = default;
  // False for a preview, which changes nothing.
  virtual bool changesHost() const = 0;

  // Changes. Each returns what the call it stands for returns: 0, or -1 with
  // errno set; a command gives its raw wait status.
  virtual int runCommand(const std::string& command) = 0;
  // Runs the cp command that makes each of copies.
  virtual int copyFiles(const std::string& command, const std::vector<FileCopy>& copies) = 0;
  virtual int makeDirectory(const std::string& path, int mode) = 0;
  virtual int changeMode(const std::string& path, int mode) = 0;
  virtual int makeLink(const std::string& target, const std::string& linkName) = 0;
  virtual int removeEntry(const std::string& path) = 0;  // a file, or an empty directory
  virtual int renameEntry(const std::string& from, const std::string& to) = 0;
  virtual int unlinkAt(int dirFd, const char* name, int flags) = 0;
  // A whole new file: the mkstemp template where it is written (given the
  // one beside its target), and moving the written file over its target.
  virtual std::string freshFileTemplate(const std::string& besideTarget) = 0;
  virtual int placeFile(const std::string& fresh, const std::string& target) = 0;

  // The host as the run's own earlier changes left it.
  virtual bool exists(const std::string& path) = 0;  // as lstat sees it
  virtual bool isDirectory(const std::string& path) = 0;  // as stat sees it
  // Entry names of dir in directory order, without "." and "..".
  virtual std::vector<std::string> listDirectory(const std::string& dir) = 0;
  // Where the content of path can be read.
  virtual std::string readablePath(const std::string& path) = 0;
};

// The host itself: every operation is the system call or command it names.
class RealHostChanges : public HostChanges {
 public:
  bool changesHost() const override { return true; }
  int runCommand(const std::string& command) override;
  int copyFiles(const std::string& command, const std::vector<FileCopy>& copies) override;
  int makeDirectory(const std::string& path, int mode) override;
  int changeMode(const std::string& path, int mode) override;
  int makeLink(const std::string& target, const std::string& linkName) override;
  int removeEntry(const std::string& path) override;
  int renameEntry(const std::string& from, const std::string& to) override;
  int unlinkAt(int dirFd, const char* name, int flags) override;
  std::string freshFileTemplate(const std::string& besideTarget) override;
  int placeFile(const std::string& fresh, const std::string& target) override;
  bool exists(const std::string& path) override;
  bool isDirectory(const std::string& path) override;
  std::vector<std::string> listDirectory(const std::string& dir) override;
  std::string readablePath(const std::string& path) override;
};

// The object every change goes through: the host itself until startPreview().
HostChanges& host();
// The host itself, whatever the run is: for the run's own records.
HostChanges& realHost();

// Puts the preview in place for the rest of the run and says so on standard
// output.
void startPreview();

// The path of the directory open on fd, or empty when /proc cannot tell.
std::string directoryOfFd(int fd);

// The preview object (host_preview.cpp).
std::unique_ptr<HostChanges> makePreviewHost();
