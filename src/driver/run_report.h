// The run's report: a JSON file beside the log that tells what the run did
// (or, in a preview, would do), queue by queue and setting by setting, for
// administrators and roll-out tools that must tell a good host from a
// failed one without reading the log.
#pragma once

#include <string>

// Where this run's report goes: the update report, or the preview's own.
std::string runReportPath();

// Replaces the report whole with the account of the run. False, with the
// reason in error, when it could not be written.
bool writeRunReport(const std::string& path, std::string& error);
