#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "core/ComError.h"
#include "core/Connection.h"
#include "remote/Message.h"
#include "remote/SchemaCache.h"

namespace kestrava::remote {

// Writes whole frames to one descriptor under one lock, so notifications from a service thread
// never interleave with replies. Remembers which class shapes the peer already knows. Once a
// write fails (the peer has gone) every later send returns false at once.
class FrameWriter {
 public:
  explicit FrameWriter(int fd) : fd_(fd) {}

  bool send(const Message& message);
  // An object, preceded by its schema frame the first time its class shape is sent. An object
  // too large for one message throws ComError and sends nothing.
  bool sendObject(Verb verb, uint64_t id, const ManagementObject& object);
  bool sendEvent(uint64_t subscription, const EventObject& event);
  bool sendError(uint64_t id, const ComError& error);
  bool broken() const;

 private:
  bool write(const std::string& frames);

  int fd_;
  mutable std::mutex mutex_;
  SchemaCache schemas_;
  bool broken_ = false;
};

}  // namespace kestrava::remote
