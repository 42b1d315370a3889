#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "service/systemd/UnitRecord.h"

namespace kestrava::service::systemd {

// When each folder that holds unit files was last changed: the manager's unit search path and
// the .wants/.requires folders inside it, as seen from the manager's own root. An absent folder
// counts too, so one that appears is a change.
using FolderStamps = std::map<std::string, int64_t>;  // path -> mtime in ns, -1 when absent

// Reads the stamps of the folders below root (a path under /proc/<pid>/root, or "/").
FolderStamps stampUnitFolders(const std::string& root, const std::vector<std::string>& unitPath);

// The unit file listing of one service manager, kept for the connections this process makes
// later: working out every unit file's state costs systemd more than everything else a view
// build asks of it. With it go the properties of installed units that were not loaded, which
// systemd must load from their files to answer. A kept listing is handed out only while the same
// manager answers (the same bus, the same name owner) and every folder it was read under is
// unchanged, so a unit enabled, disabled, masked or dropped in by hand since is read anew; an
// edit of a unit file counts after a reload, as it does for systemd's loaded units. Thread-safe.
class UnitFileCache {
 public:
  using Files = std::map<std::string, std::string>;  // unit name -> unit file state
  using IdleUnits = std::map<std::string, UnitRecord>;
  struct Kept {
    Files files;
    IdleUnits idle;
  };

  static UnitFileCache& shared();

  // What is kept for this manager if the folders still carry the stamps it was read under.
  std::optional<Kept> lookup(const std::string& manager, const FolderStamps& now) const;
  // Keeps a listing together with the stamps taken before it was asked for.
  void store(const std::string& manager, FolderStamps before, Files files);
  // Keeps what installed units that are not loaded answered, read under the listing's stamps.
  void keepIdle(const std::string& manager, const FolderStamps& under, const IdleUnits& idle);
  void forget(const std::string& manager);

  // How many listings were handed out, for tests that check the cache is used at all.
  uint64_t hits() const;

 private:
  struct Entry {
    FolderStamps stamps;
    Kept kept;
  };
  mutable std::mutex mutex_;
  std::map<std::string, Entry> entries_;
  mutable uint64_t hits_ = 0;
};

}  // namespace kestrava::service::systemd
