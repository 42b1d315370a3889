#include "service/local/MakeLocalConnection.h"

#include <exception>

#include "service/LazyProvider.h"
#include "service/LocalService.h"
#include "service/Providers.h"
#include "service/ServiceErrors.h"
#include "service/systemd/ServiceSchema.h"

namespace kestrava::service {

std::unique_ptr<Connection> makeLocalConnection() {
  try {
    ProviderList providers = makeLinuxProviders();
    // The system bus is opened by the first call that needs the services, not by the connect.
    providers.push_back(
        std::make_unique<LazyProvider>(win32ServiceSchema(), [] { return makeServiceProvider(); }));
    return std::make_unique<LocalService>(std::move(providers));
  } catch (const ComError&) {
    throw;
  } catch (const std::exception&) {
    throw genericFailure();
  }
}

}  // namespace kestrava::service
