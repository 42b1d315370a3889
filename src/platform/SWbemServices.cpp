#include "platform/SWbemServices.h"

#include <QMetaObject>
#include <QPointer>

#include "core/ClassSchema.h"
#include "platform/SWbemSink.h"

namespace kestrava {

namespace {
void requireWql(std::string_view language) {
  if (!equalsIgnoreCase(language, "WQL"))
    throw ComError(err::kWbemInvalidParameter, "Invalid parameter ", "SWbemServicesEx");
}
}  // namespace

SWbemObjectSet SWbemServices::ExecQuery(std::string_view query, std::string_view language, int) {
  requireWql(language);
  return SWbemObjectSet(connection_->execQuery(query), connection_);
}

SWbemObject SWbemServices::Get(std::string_view objectPath, int) {
  return SWbemObject(connection_->getObject(objectPath), connection_);
}

void SWbemServices::ExecNotificationQueryAsync(SWbemSink& sink, std::string_view query,
                                               std::string_view language, int) {
  requireWql(language);
  QPointer<SWbemSink> target(&sink);
  std::weak_ptr<Connection> weak = connection_;
  const Connection* identity = connection_.get();
  auto id = std::make_shared<SubscriptionId>(0);
  // Delivered on the connection's thread: hop to the sink's thread, and drop the event there if
  // the subscription has been cancelled in the meantime. The event carries the changed instance.
  auto deliver = [target, weak, identity, id](const EventObject& event) {
    auto instance = std::make_shared<EventObject>(event);
    QMetaObject::invokeMethod(
        target.data(),
        [target, weak, identity, id, instance] {
          if (!target || !target->isActive(identity, *id)) return;
          emit target->OnObjectReady(SWbemObject(instance->target, weak));
        },
        Qt::QueuedConnection);
  };
  *id = connection_->subscribe(query, deliver);
  sink.attach(connection_, *id);
}

}  // namespace kestrava
