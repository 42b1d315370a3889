#pragma once

#include "service/ClassProvider.h"
#include "service/linux/SystemRoot.h"

namespace kestrava::service::linuxsys {

// Win32_Process: one instance per /proc/<pid>, keyed by Handle (the PID as text).
class ProcessProvider : public ClassProvider {
 public:
  explicit ProcessProvider(SystemRoot root);

  const SchemaPtr& schema() const override;
  std::vector<PropertyDoc> documentation() const override;
  void enumerate(const PropertySet& wanted,
                 const std::function<bool(ManagementObject&&)>& sink) override;
  // Reads /proc/<key> alone; a key that is not a plain PID is never used as a path.
  void enumerateKey(std::string_view keyText, const PropertySet& wanted,
                    const std::function<bool(ManagementObject&&)>& sink) override;
  std::optional<ManagementObject> get(const std::string& key) override;
  // Reads /proc/<key>/stat alone.
  bool exists(const std::string& key) override;

 private:
  SystemRoot root_;
};

}  // namespace kestrava::service::linuxsys
