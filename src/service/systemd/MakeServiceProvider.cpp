#include "service/Providers.h"
#include "service/systemd/SystemdClient.h"
#include "service/systemd/SystemdServiceProvider.h"
#include "service/systemd/SysvServiceProvider.h"

namespace kestrava::service {

std::unique_ptr<ClassProvider> makeServiceProvider() {
  constexpr std::chrono::seconds kProbeTimeout{5};
  systemd::HostFacts host = systemd::localHostFacts();
  if (auto client = systemd::SystemdClient::open(kProbeTimeout))
    return std::make_unique<systemd::SystemdServiceProvider>(std::move(client), std::move(host));
  // No systemd answers on the system bus (a container, a machine booted without it).
  SysvOptions options;
  options.systemName = host.systemName;
  return std::make_unique<SysvServiceProvider>(std::move(options));
}

}  // namespace kestrava::service
