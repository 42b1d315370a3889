#include "service/LazyProvider.h"

#include "service/ServiceErrors.h"

namespace kestrava::service {

// The service calls a provider one call at a time, so making it needs no lock of its own.
ClassProvider& LazyProvider::provider() {
  if (!provider_) provider_ = make_();
  if (!provider_) throw invalidClass(schema()->className());
  return *provider_;
}

void LazyProvider::enumerate(const PropertySet& wanted,
                             const std::function<bool(ManagementObject&&)>& sink) {
  provider().enumerate(wanted, sink);
}

void LazyProvider::enumerateKey(std::string_view keyText, const PropertySet& wanted,
                                const std::function<bool(ManagementObject&&)>& sink) {
  provider().enumerateKey(keyText, wanted, sink);
}

std::optional<ManagementObject> LazyProvider::get(const std::string& key) {
  return provider().get(key);
}

bool LazyProvider::exists(const std::string& key) {
  return provider().exists(key);
}

Value LazyProvider::invoke(const std::string& key, std::string_view method) {
  return provider().invoke(key, method);
}

}  // namespace kestrava::service
