// Making what the run has put in place durable before the run says so. A
// file renamed into a directory, a new or removed entry, is on disk only
// once its directory is synced, and a file that cp wrote only once its
// data is: a power cut before that can bring the host back with an old PPD,
// an old information file or an empty product file, after the restart and
// the report have said the run was done. The real host notes each such
// change as it makes it (a preview notes nothing); syncPlacedChanges() then
// syncs each noted directory once and each noted file system once.
#pragma once

#include <string>

// An entry of dir was made, renamed or removed.
void noteDirectoryChanged(const std::string& dir);
// The directory that holds path (a file or a directory) changed.
void notePathChanged(const std::string& path);
// A command (cp, tar) wrote path and did not sync it.
void noteFileWritten(const std::string& path);

// Syncs what was noted since the last call: each file system that holds a
// written file (syncfs), then each changed directory (fsync), each once.
// A directory that is gone by now needs no sync; other failures are logged.
void syncPlacedChanges();

// False once a sync of this run has failed: what the run put in place may
// then not survive a power cut, and the run must not say it is done.
bool everySyncSucceeded();

// Syncs the data of one file that a command wrote, before it is renamed
// into place; false with errno when that failed.
bool syncFileData(const std::string& path);
