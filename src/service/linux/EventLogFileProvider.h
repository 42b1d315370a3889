#pragma once

#include <memory>

#include "service/ClassProvider.h"
#include "service/linux/LogRecords.h"
#include "service/linux/SystemRoot.h"

namespace kestrava::service::linuxsys {

// Win32_NTEventLogFile: one instance per log file below /var/log (text logs, rotated and
// compressed logs, journal files, login records), keyed by LogFileName, the path below /var/log
// without its extension (the whole path where that would not be unique). Record counts are
// remembered by file identity, so a log that has not changed is not read again.
class EventLogFileProvider : public ClassProvider {
 public:
  // Counts are kept in `counts` (shared by the connections of a process), else in its own.
  explicit EventLogFileProvider(SystemRoot root, std::shared_ptr<LogCountCache> counts = nullptr);

  const SchemaPtr& schema() const override;
  std::vector<PropertyDoc> documentation() const override;
  void enumerate(const PropertySet& wanted,
                 const std::function<bool(ManagementObject&&)>& sink) override;
  // Lists the tree, then reads only the logs with that key.
  void enumerateKey(std::string_view keyText, const PropertySet& wanted,
                    const std::function<bool(ManagementObject&&)>& sink) override;
  std::optional<ManagementObject> get(const std::string& key) override;

 private:
  // False when the sink stopped it.
  bool enumerateWhere(const PropertySet& wanted,
                      const std::function<bool(ManagementObject&&)>& sink,
                      const std::function<bool(const std::string&)>& keyWanted);

  SystemRoot root_;
  std::shared_ptr<LogCountCache> counts_;
};

}  // namespace kestrava::service::linuxsys
