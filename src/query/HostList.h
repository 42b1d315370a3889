#pragma once

#include <istream>
#include <string>
#include <vector>

#include "query/CommandLine.h"

namespace kestrava::query {

// The names in a hosts file: one a line, blanks around a name trimmed, blank lines and
// everything after a "#" skipped.
std::vector<std::string> readHostList(std::istream& in);

// The computers a command line names, in its order, each name once: --host as given, --hosts
// FILE as read ("-": standardInput). This computer ("") when none is named. Throws UsageError
// for a hosts file that cannot be read or names no computer.
std::vector<std::string> computerNames(const CommandLine& cmd, std::istream& standardInput);

}  // namespace kestrava::query
