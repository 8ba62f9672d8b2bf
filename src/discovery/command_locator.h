// Finds the full path of a host command in a fixed list of system
// directories, or under the CUPS directories that discovery found.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The first of the twelve system directories that holds name, or nothing.
std::optional<std::string> locateCommand(std::string_view name);

// The first of the CUPS binary/base directory candidates that holds name, or
// the bare name; with no CUPS binary directory, whatever locateCommand gives.
std::optional<std::string> locateCupsCommand(std::string_view name);
