#include "connect/Connector.h"

#include <unistd.h>

#include <climits>

#include "core/ClassSchema.h"
#include "core/ComError.h"
#include "remote/RemoteConnection.h"

namespace kestrava {

namespace {
std::string hostName() {
  char buf[HOST_NAME_MAX + 1] = {};
  if (gethostname(buf, sizeof buf - 1) != 0) return {};
  return buf;
}

// Answers no class yet: every query is refused as an invalid class.
class UnavailableLocalConnection final : public Connection {
 public:
  std::unique_ptr<ObjectStream> execQuery(std::string_view) override { invalidClass(); }
  ManagementObject getObject(std::string_view) override { invalidClass(); }
  Value execMethod(std::string_view, std::string_view) override { invalidClass(); }
  SubscriptionId subscribe(std::string_view, EventCallback) override { return ++next_; }
  void cancel(SubscriptionId) override {}

 private:
  [[noreturn]] static void invalidClass() {
    throw ComError(err::kWbemInvalidClass, "Invalid class", "SWbemServicesEx");
  }
  SubscriptionId next_ = 0;
};
}  // namespace

bool namesLocalComputer(std::string_view computer) {
  if (computer.empty() || computer == "." || equalsIgnoreCase(computer, "localhost")) return true;
  const std::string own = hostName();
  return !own.empty() && equalsIgnoreCase(computer, own);
}

std::unique_ptr<Connection> connectComputer(const std::string& computer) {
  if (namesLocalComputer(computer)) return std::make_unique<UnavailableLocalConnection>();
  return remote::connectOverSsh(computer);
}

}  // namespace kestrava
