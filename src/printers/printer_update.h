// Brings every listed queue up to its new PPD, keeping its defaults.
#pragma once

#include <set>
#include <string>

#include "printers/ppd_merge.h"
#include "printers/printer_list.h"

// What one update run has done that later entries must respect: CUPS keeps
// copies such as "lab1.ppd.O" beside a queue's PPD, and the list names them
// as further entries of the same queue.
struct UpdateRun {
  std::set<std::string> listedPPDs;      // PPD files of every listed entry
  std::set<std::string> backupsWritten;  // backups this run has made
};

// Updates the first count queues of list, asking first when query is set.
// Returns 1, or 0 when nothing could be set up.
int updatePrinters(const std::string& ppdDir, PrinterList& list, int count, int query);

// What making a queue's merged PPD found: the product PPD it came from
// (empty when none) and each old default's fate.
struct MergeResult {
  std::string found;
  MergeDecisions decisions;
};

// Merges the options into the queue's new PPD; on success outputName names
// the complete merged file, otherwise it stays empty. Always 0. result, when
// given, receives what was found and decided.
int makeNewPPD(const std::string& ppdDir, const OptionList& options, int count, const PrinterEntry& printer,
               std::string& outputName, MergeResult* result = nullptr);
// Copies the queue's PPD to its ".ppd.rpmsave" backup, as a whole. 1 when
// the backup is in place (now, or by this run from the queue's own PPD), 0
// with the reason in error when no complete backup could be written.
int saveOldPPD(const std::string& ppdFile, const std::string& queueName, UpdateRun& run, std::string& error);
// Replaces the queue's PPD by the merged file, as a whole. 1 when replaced.
int installNewPPD(const std::string& ppdFile, const std::string& outputName);
// Moves the queue's velaConfig to the current version line. 1 when rewritten.
int processPrinterConfig(const std::string& queueName);
// Copies source to target. False, with errno kept, when any step failed.
bool copyFile(const std::string& source, const std::string& target);

// The backup name of a queue's PPD: beside the directory that holds it.
std::string backupNameFor(const std::string& ppdFile, const std::string& queueName);
