#include "service/systemd/UnitFileCache.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace kestrava::service::systemd {

namespace {

int64_t mtimeOf(const struct stat& st) {
  return int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
}

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

std::string below(const std::string& root, const std::string& path) {
  if (root.empty() || root == "/") return path;
  return root + path;
}

bool endsWith(const char* name, std::string_view suffix) {
  std::string_view n(name);
  return n.size() > suffix.size() && n.substr(n.size() - suffix.size()) == suffix;
}

}  // namespace

FolderStamps stampUnitFolders(const std::string& root, const std::vector<std::string>& unitPath) {
  FolderStamps stamps;
  for (const std::string& folder : unitPath) {
    // Transient units (every login's session scope) come and go there all the time; they are
    // always loaded, so the unit list has them, and as files they start manually either way.
    if (folder.ends_with("/transient")) continue;
    const std::string at = below(root, folder);
    struct stat st {};
    if (::stat(at.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      stamps[folder] = -1;
      continue;
    }
    stamps[folder] = mtimeOf(st);
    // Enabling a unit adds a link to a .wants or .requires folder, which changes only that one.
    std::unique_ptr<DIR, DirCloser> dir(::opendir(at.c_str()));
    if (!dir) continue;
    while (const dirent* e = ::readdir(dir.get())) {
      if (!endsWith(e->d_name, ".wants") && !endsWith(e->d_name, ".requires")) continue;
      struct stat sub {};
      if (::fstatat(::dirfd(dir.get()), e->d_name, &sub, 0) == 0 && S_ISDIR(sub.st_mode))
        stamps[folder + "/" + e->d_name] = mtimeOf(sub);
    }
  }
  return stamps;
}

UnitFileCache& UnitFileCache::shared() {
  static UnitFileCache cache;
  return cache;
}

std::optional<UnitFileCache::Kept> UnitFileCache::lookup(const std::string& manager,
                                                         const FolderStamps& now) const {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(manager);
  if (it == entries_.end() || it->second.stamps != now) return std::nullopt;
  ++hits_;
  return it->second.kept;
}

void UnitFileCache::store(const std::string& manager, FolderStamps before, Files files) {
  std::lock_guard lock(mutex_);
  entries_[manager] = Entry{std::move(before), Kept{std::move(files), {}}};
}

void UnitFileCache::keepIdle(const std::string& manager, const FolderStamps& under,
                             const IdleUnits& idle) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(manager);
  if (it != entries_.end() && it->second.stamps == under) it->second.kept.idle = idle;
}

void UnitFileCache::forget(const std::string& manager) {
  std::lock_guard lock(mutex_);
  entries_.erase(manager);
}

uint64_t UnitFileCache::hits() const {
  std::lock_guard lock(mutex_);
  return hits_;
}

}  // namespace kestrava::service::systemd
