#pragma once

#include <memory>

#include "service/ClassProvider.h"
#include "service/linux/CpuLoadSampler.h"
#include "service/linux/SystemRoot.h"

namespace kestrava::service::linuxsys {

// Win32_Processor: one instance per logical processor the kernel knows ("CPU0", "CPU1", ...),
// online or not, as Windows 2000 listed each logical processor as an instance of its own.
class ProcessorProvider : public ClassProvider {
 public:
  explicit ProcessorProvider(SystemRoot root);

  const SchemaPtr& schema() const override;
  std::vector<PropertyDoc> documentation() const override;
  void enumerate(const PropertySet& wanted,
                 const std::function<bool(ManagementObject&&)>& sink) override;

 private:
  SystemRoot root_;
  std::shared_ptr<CpuLoadSampler> sampler_;
};

}  // namespace kestrava::service::linuxsys
