#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/ManagementObject.h"
#include "remote/Message.h"

namespace kestrava::remote {

// A message's bytes: the header line "<verb> <id>\n", then its values (ValueCodec.h).
std::string encodePayload(const Message& message);

// Parses one message's bytes and checks that its values have the kinds its verb needs. A pure
// function: it throws ProtocolError for anything malformed, unknown or incomplete.
Message decodePayload(std::string_view payload);

// Frames a payload for the wire: its length in decimal, a newline, the payload.
std::string frame(std::string_view payload);

// Builds a payload value by value, for messages that are written often (objects, events).
class PayloadBuilder {
 public:
  PayloadBuilder(Verb verb, uint64_t id);
  PayloadBuilder& add(const Value& value);
  // An object as a schema number and an array of its values (0 stands for no object).
  PayloadBuilder& addObject(int64_t schemaNumber, const ManagementObject& object);
  const std::string& payload() const { return payload_; }
  std::string framed() const { return frame(payload_); }

 private:
  std::string payload_;
};

}  // namespace kestrava::remote
