// The sync step's account of itself: a directory that is gone needs no
// sync, but one that cannot be opened for its sync leaves the run unable to
// say that what it put in place is on disk.
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
