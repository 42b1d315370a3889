#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "remote/Message.h"

namespace kestrava::remote {

// Cuts a byte stream into message payloads: "<decimal length>\n<payload>". It refuses a bad
// frame as soon as its first wrong byte arrives (a letter in the length line, a line longer
// than kMaxLengthLine, a length over the limit), so a peer that talks garbage is found at once.
class FrameDecoder {
 public:
  explicit FrameDecoder(size_t maxPayload = kMaxMessageBytes) : maxPayload_(maxPayload) {}

  void feed(std::string_view bytes);
  // The next complete payload, or nullopt while more bytes are needed. Throws ProtocolError;
  // after a throw the stream cannot be resynchronised and the decoder stays failed.
  std::optional<std::string> next();
  // True when bytes of an unfinished frame are buffered: an end of stream now is a truncation.
  bool midFrame() const { return offset_ < buffer_.size(); }
  // The first bytes the peer ever sent, to show what a peer that talks garbage said.
  const std::string& firstBytes() const { return firstBytes_; }

 private:
  void fail(const std::string& detail);

  size_t maxPayload_;
  std::string buffer_;
  size_t offset_ = 0;
  std::string firstBytes_;
  std::optional<std::string> failure_;
};

}  // namespace kestrava::remote
