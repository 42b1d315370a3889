#pragma once

#include <QObject>
#include <memory>
#include <vector>

#include "core/Connection.h"
#include "platform/SWbemObject.h"

namespace kestrava {

// The notification sink: subscriptions deliver into it on the user-interface thread, through
// its four events. Cancel ends every subscription that delivers to it, on whatever connection.
class SWbemSink : public QObject {
  Q_OBJECT
 public:
  explicit SWbemSink(QObject* parent = nullptr);
  ~SWbemSink() override;

  // Ends every subscription; the first failure is thrown after all have been ended.
  void Cancel();

  size_t activeSubscriptions() const { return subscriptions_.size(); }
  // Registers a subscription made on a connection; used by SWbemServices.
  void attach(const std::shared_ptr<Connection>& connection, SubscriptionId id);
  bool isActive(const Connection* connection, SubscriptionId id) const;

 signals:
  void OnObjectReady(const kestrava::SWbemObject& object);
  void OnCompleted(int result);
  void OnProgress(int upperBound, int current, const QString& message);
  void OnObjectPut(const QString& path);

 private:
  struct Subscription {
    std::weak_ptr<Connection> connection;
    const Connection* identity;
    SubscriptionId id;
  };
  std::vector<Subscription> subscriptions_;
};

}  // namespace kestrava
