#include "platform/SWbemSink.h"

#include <optional>

namespace kestrava {

SWbemSink::SWbemSink(QObject* parent) : QObject(parent) {}

SWbemSink::~SWbemSink() {
  try {
    Cancel();
  } catch (const ComError&) {
    // The program is closing; a connection that cannot hear the cancel is going away too.
  }
}

void SWbemSink::attach(const std::shared_ptr<Connection>& connection, SubscriptionId id) {
  subscriptions_.push_back({connection, connection.get(), id});
}

bool SWbemSink::isActive(const Connection* connection, SubscriptionId id) const {
  for (const auto& s : subscriptions_)
    if (s.identity == connection && s.id == id) return true;
  return false;
}

void SWbemSink::Cancel() {
  std::optional<ComError> first;
  auto subscriptions = std::move(subscriptions_);
  subscriptions_.clear();
  for (const auto& s : subscriptions) {
    auto connection = s.connection.lock();
    if (!connection) continue;  // released with its connection
    try {
      connection->cancel(s.id);
    } catch (const ComError& e) {
      if (!first) first = e;
    }
  }
  if (first) throw *first;
}

}  // namespace kestrava
