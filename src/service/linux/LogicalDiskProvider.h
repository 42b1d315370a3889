#pragma once

#include <vector>

#include "service/ClassProvider.h"
#include "service/linux/MountInfo.h"
#include "service/linux/SystemRoot.h"

namespace kestrava::service::linuxsys {

// Win32_LogicalDisk: one instance per mounted file system that holds data, keyed by its mount
// point (DeviceID, Caption and Name alike); kernel and memory file systems are left out.
class LogicalDiskProvider : public ClassProvider {
 public:
  explicit LogicalDiskProvider(SystemRoot root);

  const SchemaPtr& schema() const override;
  std::vector<PropertyDoc> documentation() const override;
  void enumerate(const PropertySet& wanted,
                 const std::function<bool(ManagementObject&&)>& sink) override;

 private:
  SystemRoot root_;
};

// The mounts that are logical disks, in mountinfo order; of several mounts on one mount point only
// the last, the one in sight, is kept, and of several mounts of one file system only the one
// that df would list.
std::vector<MountEntry> visibleDataMounts(std::vector<MountEntry> mounts);

}  // namespace kestrava::service::linuxsys
