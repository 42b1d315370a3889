// Feeds arbitrary bytes to the protocol decoder as a peer would send them. Every refusal must be a
// ProtocolError; anything else that escapes, or a crash, is a bug. A payload that is accepted must
// encode back to exactly the same bytes, since every message has one spelling. Decoding one
// payload may allocate only in proportion to its bytes: a count it claims reserves nothing.
#include <sanitizer/allocator_interface.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "remote/FrameDecoder.h"
#include "remote/MessageCodec.h"
#include "remote/ProtocolError.h"
#include "remote/SchemaTable.h"

namespace {

// Bytes held on the heap, and the most held since the last reset (the sanitizer's hooks see every
// allocation of the process).
std::atomic<int64_t> gLive{0};
std::atomic<int64_t> gPeak{0};

void onMalloc(const volatile void*, size_t size) {
  auto live = gLive += static_cast<int64_t>(size);
  auto peak = gPeak.load();
  while (live > peak && !gPeak.compare_exchange_weak(peak, live)) {
  }
}

void onFree(const volatile void* p) {
  gLive -= static_cast<int64_t>(__sanitizer_get_allocated_size(const_cast<const void*>(p)));
}

const int kHooked = __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);

}  // namespace

namespace {

using namespace kestrava::remote;

// A decoded value costs a few dozen bytes however short its spelling ("n", "a0:").
constexpr int64_t kBytesPerInputByte = 64;
constexpr int64_t kFixedAllowance = 64 * 1024;

void checkCanonical(std::string_view payload) {
  const int64_t before = gLive.load();
  gPeak = before;
  try {
    Message message = decodePayload(payload);
    if (encodePayload(message) != payload) std::abort();
  } catch (const ProtocolError&) {
  }
  const auto limit = kBytesPerInputByte * static_cast<int64_t>(payload.size()) + kFixedAllowance;
  if (kHooked && gPeak.load() - before > limit) std::abort();
}

void use(SchemaTable& table, const Message& m) {
  switch (m.verb) {
    case Verb::Schema:
      table.define(m);
      break;
    case Verb::Object:
      table.object(m.body[0], m.body[1]);
      break;
    case Verb::Event:
      table.object(m.body[1], m.body[2]);
      table.object(m.body[3], m.body[4]);
      break;
    default:
      break;
  }
}

void decodeStream(const uint8_t* data, size_t size) {
  if (size == 0) return;
  // The first byte chooses how the stream is cut into reads.
  size_t chunk = data[0] % 17 + 1;
  std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  FrameDecoder decoder(64 * 1024);
  SchemaTable table;
  try {
    for (size_t at = 0; at < bytes.size(); at += chunk) {
      decoder.feed(bytes.substr(at, chunk));
      while (auto payload = decoder.next()) {
        checkCanonical(*payload);
        use(table, decodePayload(*payload));
      }
    }
  } catch (const ProtocolError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  checkCanonical(std::string_view(reinterpret_cast<const char*>(data), size));
  decodeStream(data, size);
  return 0;
}
