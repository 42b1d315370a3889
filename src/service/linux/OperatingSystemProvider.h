#pragma once

#include "service/ClassProvider.h"
#include "service/linux/SystemRoot.h"

namespace kestrava::service::linuxsys {

// Win32_OperatingSystem: the running system, keyed by its name from os-release.
class OperatingSystemProvider : public ClassProvider {
 public:
  explicit OperatingSystemProvider(SystemRoot root);

  const SchemaPtr& schema() const override;
  std::vector<PropertyDoc> documentation() const override;
  void enumerate(const PropertySet& wanted,
                 const std::function<bool(ManagementObject&&)>& sink) override;

 private:
  SystemRoot root_;
};

// The build count of a kernel version string: "#1 SMP PREEMPT_DYNAMIC ..." -> "1".
std::optional<std::string> kernelBuildNumber(std::string_view version);

}  // namespace kestrava::service::linuxsys
