// Unique temporary files, created empty and exclusively by this run.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Creates an empty file with an unpredictable name in dir and returns its
// path. Ends the process with status 255 when no file can be made.
std::string myTmpName(std::string dir, const char* name);

// Creates an empty file dir/prefixXXXXXX exclusively (mode 0600) and returns
// its path; nothing when it cannot be made (errno kept). A trailing "/" of
// dir is not doubled.
std::optional<std::string> makeTempFile(std::string_view dir, std::string_view prefix);
