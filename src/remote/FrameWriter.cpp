#include "remote/FrameWriter.h"

#include "remote/FdIo.h"
#include "remote/MessageCodec.h"

namespace kestrava::remote {

namespace {
// A message the peer would refuse fails its own operation instead of breaking the stream.
bool fits(const PayloadBuilder& builder) {
  return builder.payload().size() <= kMaxMessageBytes;
}

[[noreturn]] void tooLarge(const std::string& className) {
  throw ComError(err::kWbemFailed,
                 "An instance of " + className + " is larger than the " +
                     std::to_string(kMaxMessageBytes) + " bytes a message may hold ",
                 "SWbemServicesEx");
}
}  // namespace

bool FrameWriter::write(const std::string& frames) {
  if (broken_) return false;
  if (!writeAll(fd_, frames)) broken_ = true;
  return !broken_;
}

bool FrameWriter::send(const Message& message) {
  auto framed = frame(encodePayload(message));
  std::lock_guard lock(mutex_);
  return write(framed);
}

bool FrameWriter::sendObject(Verb verb, uint64_t id, const ManagementObject& object) {
  std::lock_guard lock(mutex_);
  std::string frames;
  auto number = schemas_.number(object.schema(), frames);
  PayloadBuilder builder(verb, id);
  builder.addObject(number, object);
  if (!fits(builder)) {
    write(frames);  // the schema frames: the peer must learn what the cache now assumes it knows
    tooLarge(object.className());
  }
  frames += builder.framed();
  return write(frames);
}

bool FrameWriter::sendEvent(uint64_t subscription, const EventObject& event) {
  std::lock_guard lock(mutex_);
  std::string frames;
  auto target = schemas_.number(event.target.schema(), frames);
  auto previous = schemas_.number(event.previous.schema(), frames);
  PayloadBuilder builder(Verb::Event, subscription);
  builder.add(Value::text(event.className))
      .addObject(target, event.target)
      .addObject(previous, event.previous);
  if (!fits(builder)) {
    write(frames);
    tooLarge(event.className);
  }
  frames += builder.framed();
  return write(frames);
}

bool FrameWriter::sendError(uint64_t id, const ComError& error) {
  return send(Message{Verb::Error,
                      id,
                      {Value::integer(error.number()), Value::text(error.description()),
                       Value::text(error.source())}});
}

bool FrameWriter::broken() const {
  std::lock_guard lock(mutex_);
  return broken_;
}

}  // namespace kestrava::remote
