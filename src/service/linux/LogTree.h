#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrava::service::linuxsys {

// The regular files below a log directory, as paths relative to it, sorted. Symbolic links are
// not followed; directories the user may not read are passed over; at most maxDepth levels and
// maxFiles files are looked at.
std::vector<std::string> scanLogTree(const std::string& root, int maxDepth = 8,
                                     size_t maxFiles = 4096);

// One part of a log tree: the directory `dir`, which is `prefix` (empty, or ending in '/') below
// the log directory and `depth` levels down. The directories named in stopAt (relative to the
// log directory, ending in '/') are not entered: other mounts, listed on their own. keepGoing is
// asked after each directory; false stops the listing.
struct LogTreePart {
  std::string dir;
  std::string prefix;
  int depth = 0;
  std::vector<std::string> stopAt;
};
std::vector<std::string> scanLogTreePart(const LogTreePart& part, int maxDepth, size_t maxFiles,
                                         const std::function<bool()>& keepGoing);

// The extension of a path's last component ("log" of "apt/history.log"); empty when the name has
// no dot past its first character.
std::string_view logExtension(std::string_view relPath);

// One key per path: the path without its extension, or the whole path where that would name two
// files (syslog and syslog.1) or another file's whole path. The keys are unique.
std::vector<std::string> assignLogKeys(const std::vector<std::string>& relPaths);

}  // namespace kestrava::service::linuxsys
