#include "service/linux/LogicalDiskProvider.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <unordered_map>

#include "service/linux/BlockDevices.h"
#include "service/linux/FileAccess.h"
#include "service/linux/FileSystemKinds.h"
#include "service/linux/HostInfo.h"
#include "service/linux/PropertyTable.h"
#include "sys/Utf8.h"

namespace kestrava::service::linuxsys {

namespace {
struct DiskContext {
  const SystemRoot& root;
  Lazy<std::string> hostname;
  Lazy<VolumeIds> volumeIds;
};

// What the calls on a mount found out: read on a thread of the mount guard, so a mount that
// does not answer leaves them unset.
struct MountFacts {
  bool isFile = false;  // a single file bind-mounted over another
  std::optional<struct statvfs> fsStat;
};

// One mounted file system; its block device is looked up on first use.
struct DiskRecord {
  DiskContext& context;
  const MountEntry& mount;
  const MountFacts& facts;
  Lazy<std::string> device;
  Lazy<int64_t> type;

  const struct statvfs* stat() const { return facts.fsStat ? &*facts.fsStat : nullptr; }
  const std::string& deviceName() {
    return device.get([&] { return blockDeviceName(context.root.sys, mount.major, mount.minor); });
  }
  int64_t driveType() {
    return type.get([&] { return readDriveType(); });
  }
  int64_t readDriveType();
};

// 2 removable, 3 local fixed, 4 network, 5 compact disc, 6 RAM disk (the class's codes).
int64_t DiskRecord::readDriveType() {
  if (isNetworkFileSystem(mount.fsType)) return 4;
  const std::string& dev = deviceName();
  if (mount.fsType == "iso9660" || mount.fsType == "udf" || dev.starts_with("sr")) return 5;
  if (dev.starts_with("zram") || dev.starts_with("ram")) return 6;
  if (!dev.empty() && isRemovableDevice(context.root.sys, mount.major, mount.minor) == true)
    return 2;
  return 3;
}

using P = PropertyDef<DiskRecord>;

Value mountPoint(DiskRecord& r) {
  return Value::text(sys::validUtf8(r.mount.mountPoint));
}

template <class F>
Value fromStat(DiskRecord& r, F f) {
  const struct statvfs* s = r.stat();
  return s ? f(*s) : Value::null();
}

bool hasOption(std::string_view options, std::string_view name) {
  while (!options.empty()) {
    size_t comma = options.find(',');
    std::string_view o = options.substr(0, comma);
    if (o == name || (o.starts_with(name) && o.size() > name.size() && o[name.size()] == '='))
      return true;
    if (comma == std::string_view::npos) break;
    options.remove_prefix(comma + 1);
  }
  return false;
}

Value volumeId(DiskRecord& r, bool label) {
  const std::string& dev = r.deviceName();
  if (dev.empty()) return Value::null();
  const VolumeIds& ids =
      r.context.volumeIds.get([&] { return VolumeIds::read(r.context.root.dev); });
  const auto& map = label ? ids.labels : ids.uuids;
  auto it = map.find(dev);
  return it == map.end() ? Value::null() : Value::text(it->second);
}

constexpr auto kProperties = std::to_array<P>({
    {"Access",
     {"integer", "", "mount options: `ro` → 1 (readable), else 3 (read/write)"},
     [](DiskRecord& r) { return Value::integer(r.mount.readOnly() ? 1 : 3); }},
    {"Availability", {"null", "", "none"}, [](DiskRecord&) { return nullValue(); }},
    {"BlockSize",
     {"uint64", "bytes", "`statvfs` f_frsize"},
     [](DiskRecord& r) {
       return fromStat(r, [](const struct statvfs& s) { return decimalText(s.f_frsize); });
     }},
    {"Caption", {"string", "", "mount point"}, mountPoint},
    {"Compressed",
     {"boolean", "", "squashfs, or a `compress`/`compress-force` mount option"},
     [](DiskRecord& r) {
       return Value::boolean(r.mount.fsType == "squashfs" ||
                             hasOption(r.mount.superOptions, "compress") ||
                             hasOption(r.mount.superOptions, "compress-force"));
     }},
    {"ConfigManagerErrorCode", {"null", "", "none"}, [](DiskRecord&) { return nullValue(); }},
    {"ConfigManagerUserConfig", {"null", "", "none"}, [](DiskRecord&) { return nullValue(); }},
    {"CreationClassName",
     {"string", "", "constant `Win32_LogicalDisk`"},
     [](DiskRecord&) { return Value::text("Win32_LogicalDisk"); }},
    {"Description",
     {"string", "",
      "from DriveType: Removable Disk, Local Fixed Disk, Network Connection, CD-ROM Disc, RAM "
      "Disk"},
     [](DiskRecord& r) {
       static constexpr const char* kNames[] = {
           nullptr,       nullptr,   "Removable Disk", "Local Fixed Disk", "Network Connection",
           "CD-ROM Disc", "RAM Disk"};
       return Value::text(kNames[r.driveType()]);
     }},
    {"DeviceID", {"string", "", "mount point"}, mountPoint},
    {"DriveType",
     {"integer", "",
      "4 for network file systems (nfs, nfs4, cifs, smb3, sshfs, 9p, ceph, ...); 5 for iso9660, "
      "udf or an `sr*` device; 6 for `zram*`/`ram*` devices; 2 when `/sys/dev/block/M:m/removable` "
      "(or its disk's) is 1; else 3"},
     [](DiskRecord& r) { return Value::integer(r.driveType()); }},
    {"ErrorCleared", {"null", "", "none"}, [](DiskRecord&) { return nullValue(); }},
    {"ErrorDescription", {"null", "", "none"}, [](DiskRecord&) { return nullValue(); }},
    {"ErrorMethodology", {"null", "", "none"}, [](DiskRecord&) { return nullValue(); }},
    {"FileSystem",
     {"string", "", "file system type of mountinfo (`ext4`, `xfs`, `nfs4`, ...)"},
     [](DiskRecord& r) { return Value::text(sys::validUtf8(r.mount.fsType)); }},
    {"FreeSpace",
     {"uint64", "bytes", "`statvfs` f_bavail × f_frsize (space available to ordinary users)"},
     [](DiskRecord& r) {
       return fromStat(r, [](const struct statvfs& s) {
         return decimalText(uint64_t{s.f_bavail} * s.f_frsize);
       });
     }},
    {"InstallDate", {"null", "", "none"}, [](DiskRecord&) { return nullValue(); }},
    {"LastErrorCode", {"null", "", "none"}, [](DiskRecord&) { return nullValue(); }},
    {"MaximumComponentLength",
     {"integer", "", "`statvfs` f_namemax"},
     [](DiskRecord& r) {
       return fromStat(r, [](const struct statvfs& s) {
         return Value::integer(static_cast<int64_t>(s.f_namemax));
       });
     }},
    {"MediaType",
     {"integer", "", "12 (fixed hard disk) for DriveType 3, 11 (removable) for 2; else null"},
     [](DiskRecord& r) {
       int64_t t = r.driveType();
       return t == 3 ? Value::integer(12) : t == 2 ? Value::integer(11) : Value::null();
     }},
    {"Name", {"string", "", "mount point"}, mountPoint},
    {"NumberOfBlocks",
     {"uint64", "", "`statvfs` f_blocks"},
     [](DiskRecord& r) {
       return fromStat(r, [](const struct statvfs& s) { return decimalText(s.f_blocks); });
     }},
    {"PNPDeviceID", {"null", "", "none"}, [](DiskRecord&) { return nullValue(); }},
    {"PowerManagementCapabilities", {"null", "", "none"}, [](DiskRecord&) { return nullValue(); }},
    {"PowerManagementSupported", {"null", "", "none"}, [](DiskRecord&) { return nullValue(); }},
    {"ProviderName",
     {"string", "", "network file systems: the mount source (`server:/export`, `//server/share`)"},
     [](DiskRecord& r) {
       return isNetworkFileSystem(r.mount.fsType) ? Value::text(sys::validUtf8(r.mount.source))
                                                  : Value::null();
     }},
    {"Purpose", {"null", "", "none"}, [](DiskRecord&) { return nullValue(); }},
    {"Size",
     {"uint64", "bytes", "`statvfs` f_blocks × f_frsize"},
     [](DiskRecord& r) {
       return fromStat(r, [](const struct statvfs& s) {
         return decimalText(uint64_t{s.f_blocks} * s.f_frsize);
       });
     }},
    {"Status", {"null", "", "none"}, [](DiskRecord&) { return nullValue(); }},
    {"StatusInfo", {"null", "", "none"}, [](DiskRecord&) { return nullValue(); }},
    {"SupportsFileBasedCompression",
     {"boolean", "",
      "true for btrfs, f2fs, zfs; false for ext2/3/4, xfs, vfat, exfat, iso9660, udf, squashfs, "
      "erofs, jfs; else null"},
     [](DiskRecord& r) {
       auto s = supportsFileCompression(r.mount.fsType);
       return s ? Value::boolean(*s) : Value::null();
     }},
    {"SystemCreationClassName",
     {"string", "", "constant `Win32_ComputerSystem`"},
     [](DiskRecord&) { return Value::text("Win32_ComputerSystem"); }},
    {"SystemName",
     {"string", "", "`uname()` nodename"},
     [](DiskRecord& r) {
       return nonEmptyTextOrNull(
           r.context.hostname.get([&] { return HostInfo::read(r.context.root).hostname; }));
     }},
    {"VolumeName",
     {"string", "",
      "the file system label: the `/dev/disk/by-label` link whose target is the device named by "
      "`/sys/dev/block/M:m` (udev's `\\xHH` escapes decoded)"},
     [](DiskRecord& r) { return volumeId(r, true); }},
    {"VolumeSerialNumber",
     {"string", "", "the file system UUID, from `/dev/disk/by-uuid` in the same way"},
     [](DiskRecord& r) { return volumeId(r, false); }},
});
}  // namespace

namespace {
// A share named by its server (host:/path, //host/share): two of those on one device are two
// exports, not one file system seen twice.
bool isRemoteSource(const MountEntry& m) {
  return m.source.find(':') != std::string::npos ||
         (m.source.starts_with("//") &&
          (m.fsType == "smbfs" || m.fsType == "smb3" || m.fsType == "cifs")) ||
         m.fsType == "afs" || m.source == "-hosts";
}

// Which of two mounts of one file system stands for it, by the rules df uses, so that both list
// the same file systems: a source that is a path, then a mount point nearer the root unless its
// mount shows a deeper part of the file system, then a later mount over the same mount point.
bool replaces(const MountEntry& later, const MountEntry& seen) {
  const bool nearerRoot = seen.mountPoint.size() > later.mountPoint.size();
  const bool rootBelow = seen.root.size() < later.root.size();
  return (later.source.find('/') != std::string::npos &&
          seen.source.find('/') == std::string::npos) ||
         (nearerRoot && !rootBelow) ||
         (later.source != seen.source && later.mountPoint == seen.mountPoint);
}
}  // namespace

std::vector<MountEntry> visibleDataMounts(std::vector<MountEntry> mounts) {
  std::unordered_map<std::string, size_t> last;
  for (size_t i = 0; i < mounts.size(); ++i) last[mounts[i].mountPoint] = i;
  // One entry per file system (device number), in the order each was first mounted: a bind
  // mount or a second mount of a volume lists it once.
  std::vector<MountEntry> out;
  std::unordered_map<uint64_t, size_t> byDevice;
  for (size_t i = 0; i < mounts.size(); ++i) {
    MountEntry& m = mounts[i];
    if (last[m.mountPoint] != i || isPseudoFileSystem(m.fsType)) continue;
    const uint64_t device = (uint64_t{m.major} << 32) | m.minor;
    auto seen = byDevice.find(device);
    if (seen == byDevice.end()) {
      byDevice.emplace(device, out.size());
      out.push_back(std::move(m));
      continue;
    }
    MountEntry& kept = out[seen->second];
    if (isRemoteSource(m) && isRemoteSource(kept) && m.source != kept.source) {
      out.push_back(std::move(m));  // another export of the same server
    } else if (replaces(m, kept)) {
      kept = std::move(m);
    }
  }
  return out;
}

namespace {
// The properties that need statvfs: a query without them never calls it.
constexpr std::string_view kSizeProperties[] = {"BlockSize", "FreeSpace", "MaximumComponentLength",
                                                "NumberOfBlocks", "Size"};

bool wantsSizes(const ClassSchema& schema, const PropertySet& wanted) {
  return std::any_of(std::begin(kSizeProperties), std::end(kSizeProperties),
                     [&](std::string_view name) { return wanted.wants(*schema.indexOf(name)); });
}
}  // namespace

LogicalDiskProvider::LogicalDiskProvider(SystemRoot root) : root_(std::move(root)) {
  if (!root_.mountGuard) root_.mountGuard = std::make_shared<MountGuard>();
}

std::vector<PropertyDoc> LogicalDiskProvider::documentation() const {
  return documentTable<DiskRecord>(kProperties);
}

const SchemaPtr& LogicalDiskProvider::schema() const {
  static const SchemaPtr s = makeSchema<DiskRecord>("Win32_LogicalDisk", "DeviceID", kProperties);
  return s;
}

void LogicalDiskProvider::enumerate(const PropertySet& wanted,
                                    const std::function<bool(ManagementObject&&)>& sink) {
  auto text = readFile(joinPath(root_.proc, "self/mountinfo"), 16 << 20);
  if (!text)
    throw ComError(err::kWbemFailed, "Cannot read the mounted file systems", "Win32_LogicalDisk");
  const std::vector<MountEntry> mounts = visibleDataMounts(parseMountInfo(*text));
  const bool sizes = wantsSizes(*schema(), wanted);
  auto facts = std::make_shared<std::vector<MountFacts>>(mounts.size());
  std::vector<MountGuard::Call> calls;
  std::vector<size_t> callOf(mounts.size(), SIZE_MAX);
  for (size_t i = 0; i < mounts.size(); ++i) {
    // A file bind-mounted over another (a container's /etc/hosts) is no disk; network mounts
    // hold none, so they are only asked for their sizes.
    const bool checkFile = !isNetworkFileSystem(mounts[i].fsType);
    if (!checkFile && !sizes) continue;
    callOf[i] = calls.size();
    calls.push_back({mountKey(mounts[i]), [facts, i, checkFile, sizes, path = mounts[i].mountPoint,
                                           statvfs = root_.statvfs](MountGuard::Progress& p) {
                       MountFacts& f = (*facts)[i];
                       struct stat st {};
                       f.isFile =
                           checkFile && ::lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
                       if (!p.tick()) return;  // given up while lstat hung: ask no more
                       struct statvfs v {};
                       if (sizes && statvfs && statvfs(path.c_str(), &v) == 0) f.fsStat = v;
                     }});
  }
  // A mount that does not answer keeps its instance, with what it would have told null.
  const std::vector<bool> answered = root_.mountGuard->run(std::move(calls));
  static const MountFacts kUnanswered;
  DiskContext context{root_, {}, {}};
  for (size_t i = 0; i < mounts.size(); ++i) {
    const bool read = callOf[i] != SIZE_MAX && answered[callOf[i]];
    if (read && (*facts)[i].isFile) continue;
    DiskRecord record{context, mounts[i], read ? (*facts)[i] : kUnanswered, {}, {}};
    if (!sink(buildObject<DiskRecord>(schema(), kProperties, wanted, record))) return;
  }
}

}  // namespace kestrava::service::linuxsys
