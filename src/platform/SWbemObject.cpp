#include "platform/SWbemObject.h"

namespace kestrava {

const Value* SWbemObject::findProperty(std::string_view name) const {
  if (!object_.schema()) return nullptr;
  auto index = object_.schema()->indexOf(name);
  return index ? &object_.at(*index) : nullptr;
}

Value SWbemObject::ExecMethod(std::string_view method) const {
  auto connection = connection_.lock();
  if (!connection)
    throw ComError(err::kWbemCallCancelled,
                   "The connection that delivered this object has been closed", "SWbemObjectEx");
  return connection->execMethod(object_.path(), method);
}

}  // namespace kestrava
