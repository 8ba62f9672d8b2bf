// Unique temporary files, created empty and exclusively by this run.
#pragma once

#include <string>

// Creates an empty file with an unpredictable name in dir and returns its
// path. Ends the process with status 255 when no file can be made.
std::string myTmpName(std::string dir, const char* name);
