#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "service/ClassProvider.h"
#include "service/systemd/SystemdClient.h"

namespace kestrava::service::systemd {

// What a Win32_Service instance needs besides the unit itself.
struct HostFacts {
  std::string systemName;      // this computer's name
  bool freezerUsable = false;  // the cgroup v2 freezer exists
  std::string procRoot = "/proc";
};
HostFacts localHostFacts();

// Win32_Service, one instance per service unit of systemd, keyed by the unit's full name, with
// StartService, StopService, PauseService and ResumeService. Calls may come from several
// threads (a notification poller beside the caller's thread); they are served one at a time.
class SystemdServiceProvider : public ClassProvider {
 public:
  SystemdServiceProvider(std::unique_ptr<SystemdClient> client, HostFacts host);

  const SchemaPtr& schema() const override;
  std::vector<PropertyDoc> documentation() const override { return propertyDocs(); }
  // The properties' documentation, known without a service manager (for the manual page).
  static std::vector<PropertyDoc> propertyDocs();
  void enumerate(const PropertySet& wanted,
                 const std::function<bool(ManagementObject&&)>& sink) override;
  std::optional<ManagementObject> get(const std::string& key) override;
  Value invoke(const std::string& key, std::string_view method) override;

 private:
  // The main process's run state, and whether the unit runs the bus daemon we talk through.
  void readLocalState(UnitRecord& unit);
  ManagementObject toObject(const UnitRecord& unit, const PropertySet& wanted,
                            const std::string& managerUser) const;
  int32_t carryOut(ServiceMethod method, const UnitRecord& unit, const ControlPlan& plan);

  std::mutex mutex_;
  std::unique_ptr<SystemdClient> client_;
  HostFacts host_;
};

}  // namespace kestrava::service::systemd
