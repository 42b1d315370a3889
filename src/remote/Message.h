#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "core/Value.h"

namespace kestrava::remote {

// The protocol spoken between a remote connection and kestrava-agent (docs/protocol.md).
inline constexpr int64_t kProtocolVersion = 3;
// No message, request or reply, may be longer than this; a longer one fails its operation.
inline constexpr size_t kMaxMessageBytes = 8 * 1024 * 1024;
// The decimal length line before each message, its newline included, is at most this long.
inline constexpr size_t kMaxLengthLine = 10;
// Arrays nest at most this deep, so a hostile message cannot exhaust the decoder's stack.
inline constexpr size_t kMaxArrayDepth = 16;
// A message holds at most this many values in all, so a small message cannot make a huge one.
inline constexpr size_t kMaxValuesPerMessage = 1 << 18;

enum class Verb {
  Hello,      // both sides, first: protocol version, program, program version
  Ready,      // agent: the management service is open; the schema numbers of its classes
  Query,      // client: run a query; replies ok (or error), then object..., then end (or error)
  Get,        // client: fetch one object by path; replies object or error
  Call,       // client: call a method; replies result or error
  Subscribe,  // client: subscribe to notifications; replies ok or error, then event...
  Cancel,     // client: end a subscription or an unfinished query; replies ok
  Ok,         // agent: the request was accepted
  Schema,     // agent: declares a class shape that later objects refer to by number
  Object,     // agent: one object of a query or the object of a get
  End,        // agent: a query has delivered its last object
  Result,     // agent: the return value of a method call
  Event,      // agent: a notification for a subscription
  Busy,       // agent: still working on a request, so the client can tell slow from gone
  Error,      // either side: number, description, source (stays last)
};

const char* verbName(Verb verb);
std::optional<Verb> verbNamed(std::string_view name);

// One decoded message: its verb, the request (or subscription) it belongs to, and its values.
// Id 0 belongs to the connection itself (hello, ready, schema, a fatal error).
struct Message {
  Verb verb = Verb::Error;
  uint64_t id = 0;
  std::vector<Value> body;

  friend bool operator==(const Message&, const Message&) = default;
};

}  // namespace kestrava::remote
