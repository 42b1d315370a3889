#include "service/systemd/ServiceSchema.h"

#include <memory>

namespace kestrava::service {

const SchemaPtr& win32ServiceSchema() {
  static const SchemaPtr schema =
      std::make_shared<const ClassSchema>("Win32_Service", "Name",
                                          std::vector<std::string>{"AcceptPause",
                                                                   "AcceptStop",
                                                                   "Caption",
                                                                   "CheckPoint",
                                                                   "CreationClassName",
                                                                   "Description",
                                                                   "DesktopInteract",
                                                                   "DisplayName",
                                                                   "ErrorControl",
                                                                   "ExitCode",
                                                                   "InstallDate",
                                                                   "Name",
                                                                   "PathName",
                                                                   "ProcessId",
                                                                   "ServiceSpecificExitCode",
                                                                   "ServiceType",
                                                                   "Started",
                                                                   "StartMode",
                                                                   "StartName",
                                                                   "State",
                                                                   "Status",
                                                                   "SystemCreationClassName",
                                                                   "SystemName",
                                                                   "TagId",
                                                                   "WaitHint"});
  return schema;
}

}  // namespace kestrava::service
