#pragma once

#include "service/ClassProvider.h"
#include "service/linux/SystemRoot.h"

namespace kestrava::service::linuxsys {

// Win32_NTEventLogFile: one instance per log file below /var/log (text logs, rotated and
// compressed logs, journal files, login records), keyed by LogFileName, the path below /var/log
// without its extension (the whole path where that would not be unique).
class EventLogFileProvider : public ClassProvider {
 public:
  explicit EventLogFileProvider(SystemRoot root);

  const SchemaPtr& schema() const override;
  void enumerate(const PropertySet& wanted,
                 const std::function<bool(ManagementObject&&)>& sink) override;

 private:
  SystemRoot root_;
};

}  // namespace kestrava::service::linuxsys
