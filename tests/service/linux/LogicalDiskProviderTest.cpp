#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <map>
#include <set>

#include "service/linux/BlockDevices.h"
#include "service/linux/FileAccess.h"
#include "service/linux/FileSystemKinds.h"
#include "service/linux/LogicalDiskProvider.h"
#include "service/linux/ProviderTestSupport.h"

namespace kestrava::service::linuxsys {
namespace {

using testing::enumerateAll;
using testing::fixtureDir;
using testing::fixtureRoot;

// statvfs answers for the recorded mounts: 4 KiB blocks; the network share does not answer.
int fakeStatvfs(const char* path, struct statvfs* out) {
  if (std::string(path) == "/mnt/nas") {
    errno = EACCES;
    return -1;
  }
  *out = {};
  out->f_bsize = out->f_frsize = 4096;
  out->f_blocks = std::string(path) == "/" ? 1000000 : 2000;
  out->f_bavail = std::string(path) == "/" ? 250000 : 500;
  out->f_bfree = out->f_bavail + 10;
  out->f_namemax = std::string(path) == "/media/usb stick" ? 1530 : 255;
  return 0;
}

struct DiskCase {
  std::string mountPoint;
  std::string fileSystem;
  int64_t driveType;
  const char* description;
  int64_t access;
  Value volumeName;
  Value serial;
  Value compressed;
};

// Also: a file system mounted a second time (a bind mount of part of /home, / again under
// /var/lib/docker) is one disk, listed where it was first mounted, as df lists it.
TEST(LogicalDiskProviderFixture, OddMountLinesBecomeTheRightDisks) {
  auto root = fixtureRoot(fixtureDir("mounts-odd"));
  root.statvfs = fakeStatvfs;
  LogicalDiskProvider provider(root);
  auto disks = enumerateAll(provider);

  const DiskCase want[] = {
      {"/", "ext4", 3, "Local Fixed Disk", 3, Value::null(),
       Value::text("0b7c3f6e-61a5-4d7c-9a4f-1f2e3d4c5b6a"), Value::boolean(false)},
      {"/home/My Files", "xfs", 3, "Local Fixed Disk", 3, Value::text("My Files"),
       Value::text("5e0f3c1a-2b4d-4e6f-8a9b-0c1d2e3f4a5b"), Value::boolean(false)},
      {"/media/usb stick", "vfat", 2, "Removable Disk", 1, Value::text("USBSTICK"),
       Value::text("1234-ABCD"), Value::boolean(false)},
      {"/media/cdrom", "iso9660", 5, "CD-ROM Disc", 1, Value::text("Debian 12 amd64"),
       Value::null(), Value::boolean(false)},
      {"/mnt/nas", "nfs4", 4, "Network Connection", 3, Value::null(), Value::null(),
       Value::boolean(false)},
      {"/data", "btrfs", 3, "Local Fixed Disk", 3, Value::null(), Value::null(),
       Value::boolean(true)},
      {"/mnt/ramdisk", "ext4", 6, "RAM Disk", 3, Value::null(), Value::null(),
       Value::boolean(false)},
      {"/mnt/tab\tand\nnewline", "ext4", 3, "Local Fixed Disk", 3, Value::null(), Value::null(),
       Value::boolean(false)},
      {"/mnt/over", "ext4", 3, "Local Fixed Disk", 3, Value::null(), Value::null(),
       Value::boolean(false)},
      {"/snap/core/1", "squashfs", 3, "Local Fixed Disk", 1, Value::null(), Value::null(),
       Value::boolean(true)},
      {"/mnt/sshfs", "fuse.sshfs", 4, "Network Connection", 3, Value::null(), Value::null(),
       Value::boolean(false)},
  };
  ASSERT_EQ(disks.size(), std::size(want));
  for (size_t i = 0; i < disks.size(); ++i) {
    const ManagementObject& d = disks[i];
    const DiskCase& w = want[i];
    SCOPED_TRACE(w.mountPoint);
    EXPECT_EQ(d.get("Caption"), Value::text(w.mountPoint));
    EXPECT_EQ(d.get("DeviceID"), Value::text(w.mountPoint));
    EXPECT_EQ(d.get("Name"), Value::text(w.mountPoint));
    EXPECT_EQ(d.get("FileSystem"), Value::text(w.fileSystem));
    EXPECT_EQ(d.get("DriveType"), Value::integer(w.driveType));
    EXPECT_EQ(d.get("Description"), Value::text(w.description));
    EXPECT_EQ(d.get("Access"), Value::integer(w.access));
    EXPECT_EQ(d.get("VolumeName"), w.volumeName);
    EXPECT_EQ(d.get("VolumeSerialNumber"), w.serial);
    EXPECT_EQ(d.get("Compressed"), w.compressed);
    EXPECT_EQ(d.get("SystemName"), Value::text("fixturehost"));
  }
  EXPECT_EQ(disks[0].get("Size"), Value::text("4096000000"));
  EXPECT_EQ(disks[0].get("FreeSpace"), Value::text("1024000000"));
  EXPECT_EQ(disks[0].get("BlockSize"), Value::text("4096"));
  EXPECT_EQ(disks[0].get("NumberOfBlocks"), Value::text("1000000"));
  EXPECT_EQ(disks[0].get("MaximumComponentLength"), Value::integer(255));
  EXPECT_EQ(disks[0].get("MediaType"), Value::integer(12));
  EXPECT_EQ(disks[2].get("MediaType"), Value::integer(11));
  EXPECT_EQ(disks[2].get("MaximumComponentLength"), Value::integer(1530));
  EXPECT_EQ(disks[2].get("SupportsFileBasedCompression"), Value::boolean(false));
  EXPECT_EQ(disks[3].get("MediaType"), Value::null());
  EXPECT_EQ(disks[4].get("ProviderName"), Value::text("srv:/export/data"));
  EXPECT_TRUE(disks[4].get("Size").isNull()) << "a share that does not answer has no size";
  EXPECT_TRUE(disks[4].get("FreeSpace").isNull());
  EXPECT_EQ(disks[5].get("SupportsFileBasedCompression"), Value::boolean(true));
  EXPECT_TRUE(disks[0].get("ProviderName").isNull());
  EXPECT_EQ(disks[10].get("ProviderName"), Value::text("user@host:/"));
  for (const char* p : {"Availability", "ErrorMethodology", "PNPDeviceID", "Purpose", "Status",
                        "PowerManagementCapabilities", "InstallDate"})
    EXPECT_TRUE(disks[0].get(p).isNull()) << p;
}

TEST(LogicalDiskProviderFixture, NameAloneNeverCallsStatvfs) {
  auto root = fixtureRoot(fixtureDir("mounts-odd"));
  std::atomic<int> calls{0};
  root.statvfs = [&](const char* p, struct statvfs* out) {
    ++calls;
    return fakeStatvfs(p, out);
  };
  LogicalDiskProvider provider(root);
  auto disks = enumerateAll(provider, testing::only(*provider.schema(), {"Name", "FileSystem"}));
  EXPECT_EQ(disks.size(), 11u);
  EXPECT_EQ(calls, 0) << "a hung network share must not hold up a query that needs no sizes";
  enumerateAll(provider, testing::only(*provider.schema(), {"Name", "Size", "FreeSpace"}));
  EXPECT_EQ(calls, 11) << "one statvfs per disk";
}

TEST(FileSystemKindsTest, PseudoNetworkAndCompression) {
  for (const char* t : {"proc", "sysfs", "tmpfs", "devpts", "cgroup2", "devtmpfs", "binfmt_misc"})
    EXPECT_TRUE(isPseudoFileSystem(t)) << t;
  for (const char* t : {"ext4", "xfs", "btrfs", "vfat", "nfs4", "overlay", "squashfs", "zfs"})
    EXPECT_FALSE(isPseudoFileSystem(t)) << t;
  for (const char* t : {"nfs", "nfs4", "cifs", "smb3", "fuse.sshfs", "9p"})
    EXPECT_TRUE(isNetworkFileSystem(t)) << t;
  EXPECT_FALSE(isNetworkFileSystem("ext4"));
  EXPECT_EQ(supportsFileCompression("btrfs"), true);
  EXPECT_EQ(supportsFileCompression("ext4"), false);
  EXPECT_EQ(supportsFileCompression("reiser4"), std::nullopt);
  EXPECT_EQ(decodeUdevEscapes(R"(My\x20Files)"), "My Files");
  EXPECT_EQ(decodeUdevEscapes(R"(a\x2)"), R"(a\x2)");
  EXPECT_EQ(decodeUdevEscapes(R"(\xzz)"), R"(\xzz)");
}

TEST(LogicalDiskProviderLive, TheDisksOfMountinfoWithSizesFromStatvfs) {
  auto text = readFile("/proc/self/mountinfo");
  ASSERT_TRUE(text);
  std::set<std::string> expected;
  for (const auto& m : parseMountInfo(*text))
    if (!isPseudoFileSystem(m.fsType) && std::filesystem::is_directory(m.mountPoint))
      expected.insert(m.mountPoint);

  LogicalDiskProvider provider(SystemRoot::live());
  auto disks = enumerateAll(provider);
  std::set<std::string> got;
  for (const auto& d : disks) {
    const std::string mp = d.get("DeviceID").asText();
    SCOPED_TRACE(mp);
    got.insert(mp);
    EXPECT_FALSE(isPseudoFileSystem(d.get("FileSystem").asText()));
    struct statvfs s {};
    ASSERT_EQ(::statvfs(mp.c_str(), &s), 0);
    EXPECT_EQ(d.get("Size"), Value::text(std::to_string(uint64_t{s.f_blocks} * s.f_frsize)));
    EXPECT_EQ(d.get("MaximumComponentLength"), Value::integer(static_cast<int64_t>(s.f_namemax)));
    // Free space moves while other programs write; a few MiB of drift are allowed.
    const double free = std::stod(d.get("FreeSpace").asText());
    EXPECT_NEAR(free, double(s.f_bavail) * double(s.f_frsize), 64.0 * 1024 * 1024);
  }
  EXPECT_EQ(got, expected);
  EXPECT_TRUE(got.count("/")) << "the root file system is a disk";
}

}  // namespace
}  // namespace kestrava::service::linuxsys
