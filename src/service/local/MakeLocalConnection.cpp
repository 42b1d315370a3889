#include "service/local/MakeLocalConnection.h"

#include <exception>

#include "service/LocalService.h"
#include "service/Providers.h"
#include "service/ServiceErrors.h"

namespace kestrava::service {

std::unique_ptr<Connection> makeLocalConnection() {
  try {
    ProviderList providers = makeLinuxProviders();
    if (auto services = makeServiceProvider()) providers.push_back(std::move(services));
    return std::make_unique<LocalService>(std::move(providers));
  } catch (const ComError&) {
    throw;
  } catch (const std::exception&) {
    throw genericFailure();
  }
}

}  // namespace kestrava::service
