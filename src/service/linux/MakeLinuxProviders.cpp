#include "service/Providers.h"
#include "service/linux/ComputerSystemProvider.h"
#include "service/linux/EventLogFileProvider.h"
#include "service/linux/LogicalDiskProvider.h"
#include "service/linux/OperatingSystemProvider.h"
#include "service/linux/ProcessProvider.h"
#include "service/linux/ProcessorProvider.h"
#include "service/linux/SystemRoot.h"

namespace kestrava::service {

ProviderList makeLinuxProviders() {
  using namespace linuxsys;
  const SystemRoot root = SystemRoot::live();
  // A new connection (the desktop's Connect, another agent session) counts no log again.
  static const auto logCounts = std::make_shared<LogCountCache>();
  ProviderList list;
  list.push_back(std::make_unique<ComputerSystemProvider>(root));
  list.push_back(std::make_unique<EventLogFileProvider>(root, logCounts));
  list.push_back(std::make_unique<LogicalDiskProvider>(root));
  list.push_back(std::make_unique<OperatingSystemProvider>(root));
  list.push_back(std::make_unique<ProcessProvider>(root));
  list.push_back(std::make_unique<ProcessorProvider>(root));
  return list;
}

}  // namespace kestrava::service
