#pragma once

#include <memory>
#include <optional>

#include "core/Connection.h"
#include "platform/SWbemObject.h"

namespace kestrava {

// The result of one query, enumerated once in the service's order. Next() returns nullopt after
// the last object and throws when the delivery fails part way.
class SWbemObjectSet {
 public:
  SWbemObjectSet(std::unique_ptr<ObjectStream> stream, std::weak_ptr<Connection> connection)
      : stream_(std::move(stream)), connection_(std::move(connection)) {}

  std::optional<SWbemObject> Next();

 private:
  std::unique_ptr<ObjectStream> stream_;
  std::weak_ptr<Connection> connection_;
  bool finished_ = false;
};

}  // namespace kestrava
