// What the run has done, kept as it happens: which kind of run it is, the
// files it copied or removed, each listed queue's outcome with the fate of
// every chosen default, and the CUPS restart. The closing summary on the
// console and the JSON report beside the log are both made from it.
#pragma once

#include <string>
#include <vector>

#include "printers/ppd_merge.h"

// One PPD file of a listed queue and what became of it.
struct QueueAccount {
  std::string queue;
  std::string ppd;       // the queue's PPD file that was handled
  std::string model;
  std::string newPPD;    // the product PPD found for it, empty when none
  std::string outcome;   // "updated", "up-to-date", "kept", "no-new-ppd", "skipped",
                         // "restored", "not-restored", "removed"
  std::string reason;    // why, where the outcome needs one
  std::string backup;    // the backup file, empty when none
  MergeDecisions settings;  // updated (or to be updated) queues only
};

// One file or directory that a de-installation removes, with its verdict.
struct FileAccount {
  std::string path;
  std::string result;  // "OK." or "Not possible!"
};

struct RunAccount {
  std::string started;   // ISO 8601
  bool completed = true;
  std::string reason;    // why the run ended early
  std::vector<std::string> filesCopied;  // manifest entries as the copy loop logged them
  std::vector<std::string> filesFailed;
  std::vector<QueueAccount> queues;
  std::vector<FileAccount> files;
};

RunAccount& runAccount();

// Marks the run as ended before its work was done, with the reason in a few words.
void accountEarlyEnd(const std::string& reason);
