// Opening the files the installer reads. Only regular files are read: a pipe
// or a device where a file was expected (a planted FIFO, a VELAINFO naming
// /dev/zero) would stall the run or feed it forever, while a regular file
// ends, so every line loop over it ends too.
#pragma once

#include <cstdio>
#include <string>

// path opened for reading when it is a regular file (a link to one counts):
// its descriptor, or -1 with errno set (EINVAL for anything that is not a
// regular file). Nothing else is ever opened, not even to look at it.
int openRegularFd(const std::string& path);

// The same as a stdio stream for reading, or nullptr.
std::FILE* openRegularFile(const std::string& path);

// Whether the two regular files hold the same bytes (false when either
// cannot be read).
bool sameContent(const std::string& first, const std::string& second);
