#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "core/Connection.h"
#include "platform/SWbemObject.h"
#include "platform/SWbemObjectSet.h"

namespace kestrava {

class SWbemSink;

// The connection to one computer's management service.
class SWbemServices {
 public:
  explicit SWbemServices(std::shared_ptr<Connection> connection)
      : connection_(std::move(connection)) {}

  // Runs a query; flags 16 (return at once) is the only mode the program uses.
  SWbemObjectSet ExecQuery(std::string_view query, std::string_view language = "WQL",
                           int flags = 16);
  SWbemObject Get(std::string_view objectPath, int flags = 0);
  // Subscribes the sink; returns at once. Events reach the sink on its thread.
  void ExecNotificationQueryAsync(SWbemSink& sink, std::string_view query,
                                  std::string_view language = "WQL", int flags = 0);

  const std::shared_ptr<Connection>& connection() const { return connection_; }

 private:
  std::shared_ptr<Connection> connection_;
};

// Dereferences a member that may still be empty: an empty reference fails with 91.
template <typename Pointer>
auto& deref(const Pointer& reference) {
  if (!reference) throw objectNotSet();
  return *reference;
}

}  // namespace kestrava
