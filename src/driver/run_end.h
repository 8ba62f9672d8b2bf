// The one way out of a run: the report and the summary, then the log's
// finishing stamp, then exit status 0.
#pragma once

[[noreturn]] void endRun();
