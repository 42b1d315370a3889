#include "service/linux/FileSystemKinds.h"

#include <algorithm>
#include <array>

namespace kestrava::service::linuxsys {

namespace {
template <size_t N>
bool contains(const std::array<std::string_view, N>& set, std::string_view v) {
  return std::find(set.begin(), set.end(), v) != set.end();
}

constexpr std::array<std::string_view, 34> kPseudo = {
    "autofs",    "binfmt_misc", "bpf",        "cgroup",          "cgroup2",     "configfs",
    "cpuset",    "debugfs",     "devpts",     "devtmpfs",        "efivarfs",    "fusectl",
    "hugetlbfs", "mqueue",      "nsfs",       "pipefs",          "proc",        "pstore",
    "ramfs",     "rpc_pipefs",  "securityfs", "selinuxfs",       "sockfs",      "sysfs",
    "tmpfs",     "tracefs",     "nfsd",       "fuse.gvfsd-fuse", "fuse.portal", "overlay.lower",
    "devfs",     "usbfs",       "bdev",       "anon_inodefs"};

constexpr std::array<std::string_view, 14> kNetwork = {
    "nfs",  "nfs4",      "cifs",       "smb3",           "smbfs",     "ncpfs", "afs",
    "ceph", "glusterfs", "fuse.sshfs", "fuse.glusterfs", "fuse.s3fs", "9p",    "lustre"};
}  // namespace

bool isPseudoFileSystem(std::string_view fsType) {
  return contains(kPseudo, fsType);
}

bool isNetworkFileSystem(std::string_view fsType) {
  return contains(kNetwork, fsType);
}

std::optional<bool> supportsFileCompression(std::string_view fsType) {
  constexpr std::array<std::string_view, 3> yes = {"btrfs", "f2fs", "zfs"};
  constexpr std::array<std::string_view, 11> no = {
      "ext2", "ext3", "ext4", "xfs", "vfat", "exfat", "iso9660", "udf", "squashfs", "erofs", "jfs"};
  if (contains(yes, fsType)) return true;
  if (contains(no, fsType)) return false;
  return std::nullopt;
}

}  // namespace kestrava::service::linuxsys
