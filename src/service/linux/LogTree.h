#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kestrava::service::linuxsys {

// The regular files below a log directory, as paths relative to it, sorted. Symbolic links are
// not followed; directories the user may not read are passed over; at most maxDepth levels and
// maxFiles files are looked at.
std::vector<std::string> scanLogTree(const std::string& root, int maxDepth = 8,
                                     size_t maxFiles = 4096);

// The extension of a path's last component ("log" of "apt/history.log"); empty when the name has
// no dot past its first character.
std::string_view logExtension(std::string_view relPath);

// One key per path: the path without its extension, or the whole path where that would name two
// files (syslog and syslog.1) or another file's whole path. The keys are unique.
std::vector<std::string> assignLogKeys(const std::vector<std::string>& relPaths);

}  // namespace kestrava::service::linuxsys
