// A gone directory needs no sync; one that cannot be opened leaves the run unable to say its changes are on disk.
#include <gtest/gtest.h>

#include "driver/durable_changes.h"

TEST(DurableChanges, AFailedSyncIsRememberedAndAGoneDirectoryIsNone) {
  struct Case { const char* changedPath; bool stillAllSynced; };  // a failure is remembered: failing rows come last
  for (const Case& c : {Case{"/etc/vela-made-here", true}, Case{"/nonexistent-dir/file", true},
                        Case{"/etc/hostname/cannot-be-a-directory/x", false}, Case{"/etc/later", false}}) {
    SCOPED_TRACE(c.changedPath);
    notePathChanged(c.changedPath);
    syncPlacedChanges();
    EXPECT_EQ(everySyncSucceeded(), c.stillAllSynced);
  }
}
