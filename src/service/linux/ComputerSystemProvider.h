#pragma once

#include "service/ClassProvider.h"
#include "service/linux/SystemRoot.h"

namespace kestrava::service::linuxsys {

// Win32_ComputerSystem: the one computer, keyed by its host name.
class ComputerSystemProvider : public ClassProvider {
 public:
  explicit ComputerSystemProvider(SystemRoot root);

  const SchemaPtr& schema() const override;
  std::vector<PropertyDoc> documentation() const override;
  void enumerate(const PropertySet& wanted,
                 const std::function<bool(ManagementObject&&)>& sink) override;

 private:
  SystemRoot root_;
};

// The DNS domain of a fully qualified host name, else the NIS domain unless unset ("(none)").
std::optional<std::string> hostDomain(const std::string& hostname, const std::string& nisDomain);

}  // namespace kestrava::service::linuxsys
