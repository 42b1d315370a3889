#include "service/linux/LogTree.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "service/linux/FileAccess.h"

namespace kestrava::service::linuxsys {

namespace {
struct Scan {
  int maxDepth;
  size_t maxFiles;
  const std::vector<std::string>& stopAt;
  const std::function<bool()>& keepGoing;
  std::vector<std::string> files;
  bool stopped = false;
};

bool isType(int dirFd, const dirent* e, unsigned char type, mode_t mode) {
  if (e->d_type != DT_UNKNOWN) return e->d_type == type;
  struct stat st {};
  return ::fstatat(dirFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
         (st.st_mode & S_IFMT) == mode;
}

void scanDir(sys::UniqueFd dirFd, const std::string& prefix, int depth, Scan& scan) {
  DirPtr dir = openDirFd(std::move(dirFd));
  if (!dir) return;  // unreadable: the user may not list it
  while (scan.files.size() < scan.maxFiles && !scan.stopped) {
    dirent* e = ::readdir(dir.get());
    if (!e) break;
    std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    const int fd = ::dirfd(dir.get());
    if (isType(fd, e, DT_REG, S_IFREG)) {
      scan.files.push_back(prefix + std::string(name));
    } else if (depth + 1 < scan.maxDepth && isType(fd, e, DT_DIR, S_IFDIR)) {
      std::string below = prefix + std::string(name) + "/";
      if (std::find(scan.stopAt.begin(), scan.stopAt.end(), below) != scan.stopAt.end()) continue;
      scanDir(openAt(fd, e->d_name, O_DIRECTORY | O_NOFOLLOW), below, depth + 1, scan);
    }
  }
  if (scan.keepGoing && !scan.keepGoing()) scan.stopped = true;
}
}  // namespace

std::vector<std::string> scanLogTreePart(const LogTreePart& part, int maxDepth, size_t maxFiles,
                                         const std::function<bool()>& keepGoing) {
  Scan scan{maxDepth, maxFiles, part.stopAt, keepGoing, {}};
  scanDir(openAt(AT_FDCWD, part.dir.c_str(), O_DIRECTORY), part.prefix, part.depth, scan);
  std::sort(scan.files.begin(), scan.files.end());
  return scan.files;
}

std::vector<std::string> scanLogTree(const std::string& root, int maxDepth, size_t maxFiles) {
  return scanLogTreePart({root, "", 0, {}}, maxDepth, maxFiles, nullptr);
}

std::string_view logExtension(std::string_view relPath) {
  std::string_view base = relPath.substr(relPath.rfind('/') + 1);
  size_t dot = base.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == base.size()) return {};
  return base.substr(dot + 1);
}

std::vector<std::string> assignLogKeys(const std::vector<std::string>& relPaths) {
  std::vector<std::string> stripped;
  stripped.reserve(relPaths.size());
  std::unordered_map<std::string_view, size_t> strippedCount;
  for (const auto& p : relPaths) {
    std::string_view ext = logExtension(p);
    stripped.push_back(ext.empty() ? p : p.substr(0, p.size() - ext.size() - 1));
  }
  for (const auto& s : stripped) ++strippedCount[s];
  const std::unordered_set<std::string_view> whole(relPaths.begin(), relPaths.end());
  std::vector<std::string> keys;
  keys.reserve(relPaths.size());
  for (size_t i = 0; i < relPaths.size(); ++i) {
    const bool own = stripped[i] == relPaths[i];
    const bool clash = strippedCount[stripped[i]] > 1 || (!own && whole.count(stripped[i]));
    keys.push_back(clash ? relPaths[i] : stripped[i]);
  }
  return keys;
}

}  // namespace kestrava::service::linuxsys
