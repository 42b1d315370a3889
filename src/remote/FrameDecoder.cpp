#include "remote/FrameDecoder.h"

#include "remote/ProtocolError.h"

namespace kestrava::remote {

namespace {
constexpr size_t kFirstBytesKept = 80;
}

void FrameDecoder::fail(const std::string& detail) {
  failure_ = detail;
  throw ProtocolError(detail);
}

void FrameDecoder::feed(std::string_view bytes) {
  if (firstBytes_.size() < kFirstBytesKept)
    firstBytes_.append(bytes.substr(0, kFirstBytesKept - firstBytes_.size()));
  // Drop what has been consumed before growing, so the buffer holds at most one frame and a read.
  if (offset_ > 0 && offset_ >= buffer_.size() / 2) {
    buffer_.erase(0, offset_);
    offset_ = 0;
  }
  buffer_.append(bytes);
}

std::optional<std::string> FrameDecoder::next() {
  if (failure_) throw ProtocolError(*failure_);
  std::string_view rest = std::string_view(buffer_).substr(offset_);
  size_t length = 0;
  size_t i = 0;
  for (; i < rest.size() && rest[i] != '\n'; ++i) {
    if (i + 1 >= kMaxLengthLine) fail("a message length line is longer than allowed");
    char c = rest[i];
    if (c < '0' || c > '9') fail("the stream holds something that is not a message length");
    if (i == 1 && rest[0] == '0') fail("a message length has a leading zero");
    length = length * 10 + static_cast<size_t>(c - '0');
    if (length > maxPayload_)
      fail("a message is longer than the limit of " + std::to_string(maxPayload_) + " bytes");
  }
  if (i == rest.size()) return std::nullopt;
  if (i == 0 || length == 0) fail("a message length is missing or zero");
  if (rest.size() - i - 1 < length) return std::nullopt;
  std::string payload(rest.substr(i + 1, length));
  offset_ += i + 1 + length;
  return payload;
}

}  // namespace kestrava::remote
