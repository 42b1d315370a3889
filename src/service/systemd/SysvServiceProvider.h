#pragma once

#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "service/ClassProvider.h"

namespace kestrava::service {

struct SysvOptions {
  std::filesystem::path initDir = "/etc/init.d";   // its sibling rc?.d folders give StartMode
  std::chrono::milliseconds statusTimeout{5000};   // for all `status` runs of one enumeration
  std::chrono::milliseconds actionTimeout{30000};  // for one `start` or `stop`
  std::string systemName;
};

// Win32_Service where no systemd answers: one instance per SysV init script, keyed by the
// script's name. State comes from the script's `status` exit code (LSB: 0 running,
// 3 stopped); StartService and StopService run it with `start` or `stop`; pausing is not
// supported (return 1).
class SysvServiceProvider : public ClassProvider {
 public:
  explicit SysvServiceProvider(SysvOptions options);

  const SchemaPtr& schema() const override;
  void enumerate(const PropertySet& wanted,
                 const std::function<bool(ManagementObject&&)>& sink) override;
  std::optional<ManagementObject> get(const std::string& key) override;
  Value invoke(const std::string& key, std::string_view method) override;

  // The names of the init scripts in the folder, sorted; helpers and backups left out.
  std::vector<std::string> scriptNames() const;

 private:
  bool isScript(const std::string& name) const;
  std::vector<ManagementObject> build(std::vector<std::string> names, const PropertySet& wanted);
  int32_t runAction(const std::string& name, const char* action);

  std::mutex mutex_;
  SysvOptions options_;
};

}  // namespace kestrava::service
