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
                         // "restored", "not-restored", "removed", "not-removed"
  std::string reason;    // why, where the outcome needs one
  std::string backup;    // the backup file, empty when none
  MergeDecisions settings;  // updated (or to be updated) queues only
  bool cupsCopy = false;    // CUPS's own copy beside the queue's PPD (lab1.ppd.O), not a queue of its own
};

// One file or directory that a de-installation removes, with its verdict.
struct FileAccount {
  std::string path;
  std::string result;  // "OK." or "Not possible!"
};

struct RunAccount {
  std::string started;   // ISO 8601, UTC
  std::string finished;
  bool completed = true;
  std::string reason;    // why the run ended early
  std::vector<std::string> filesCopied;  // manifest entries as the copy loop logged them
  std::vector<std::string> filesFailed;
  int filesChanged = 0;  // copied files whose bytes differ from what was there
  // Changes that the scheduler only sees after a restart: a queue's PPD
  // updated or restored, the filter or a product PPD copied with new bytes.
  // A run without one leaves CUPS running as it is.
  int cupsReadChanges = 0;
  std::vector<QueueAccount> queues;
  std::vector<FileAccount> files;
};

RunAccount& runAccount();

// The current time in ISO 8601 form, UTC.
std::string isoTimeNow();

// What became of CUPS's copies beside the queues' PPDs: counted apart, so
// that the queue counts count queues.
struct CupsCopyCounts {
  int updated = 0, upToDate = 0, kept = 0, noNewPPD = 0, skipped = 0;
  int settingsNotCarried = 0;
  int handled() const { return updated + upToDate + kept + noNewPPD + skipped; }
};

// Counts over the queues and their settings, for the summary and the report.
struct RunCounts {
  int updated = 0, upToDate = 0, kept = 0, noNewPPD = 0, skipped = 0, restored = 0, notRestored = 0, removed = 0;
  int notRemoved = 0;  // the scheduler did not answer their removal
  int settingsNotCarried = 0;
  int filesRemoved = 0, filesNotRemoved = 0;
  CupsCopyCounts cupsCopies;
};
RunCounts countRun(const RunAccount& account);
// Whether the run changed (a preview: would change) anything on the host.
bool runChangedHost(const RunAccount& account, bool newInstallation);

// Marks the run as ended before its work was done, with the reason in a few words.
void accountEarlyEnd(const std::string& reason);
