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

FrameWriter::FrameWriter(int fd, std::chrono::milliseconds busyInterval)
    : fd_(fd), busyInterval_(busyInterval), writer_([this] { writeLoop(); }) {}

FrameWriter::~FrameWriter() {
  flush();
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  writer_.join();
}

// Waits for frames to write, making a busy frame when a request has been quiet too long; false
// when the writer is to stop.
bool FrameWriter::awaitFrames(std::unique_lock<std::mutex>& lock) {
  for (;;) {
    if (!pending_.empty()) return true;
    if (stopping_) return false;
    if (!working_) {
      changed_.wait(lock);
      continue;
    }
    auto due = lastSent_ + busyInterval_;
    if (std::chrono::steady_clock::now() < due) {
      changed_.wait_until(lock, due);
      continue;
    }
    pending_ = frame(encodePayload(Message{Verb::Busy, *working_, {}}));
    lastSent_ = std::chrono::steady_clock::now();
  }
}

void FrameWriter::writeLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (!awaitFrames(lock)) return;
    batch_.clear();
    batch_.swap(pending_);  // both buffers keep their capacity from batch to batch
    if (broken_) continue;  // the peer has gone: what is left is dropped
    writing_ = true;
    lock.unlock();
    bool ok = writeAll(fd_, batch_);
    lock.lock();
    writing_ = false;
    if (!ok) broken_ = true;
    changed_.notify_all();
  }
}

bool FrameWriter::enqueue(std::unique_lock<std::mutex>& lock, const std::string& frames) {
  changed_.wait(lock, [this] { return pending_.size() < kMaxPending || broken_; });
  if (broken_) return false;
  pending_ += frames;
  lastSent_ = std::chrono::steady_clock::now();
  changed_.notify_all();
  return true;
}

void FrameWriter::working(uint64_t id) {
  {
    std::lock_guard lock(mutex_);
    working_ = id;
    lastSent_ = std::chrono::steady_clock::now();
  }
  changed_.notify_all();
}

void FrameWriter::idle() {
  std::lock_guard lock(mutex_);
  working_.reset();
}

void FrameWriter::flush() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return (pending_.empty() && !writing_) || broken_; });
}

bool FrameWriter::send(const Message& message) {
  auto framed = frame(encodePayload(message));
  std::unique_lock lock(mutex_);
  return enqueue(lock, framed);
}

bool FrameWriter::sendObject(Verb verb, uint64_t id, const ManagementObject& object) {
  std::unique_lock lock(mutex_);
  std::string frames;
  auto number = schemas_.number(object.schema(), frames);
  PayloadBuilder builder(verb, id);
  builder.addObject(number, object);
  if (!fits(builder)) {
    enqueue(lock, frames);  // the schema frames: the peer must learn what the cache now assumes
    tooLarge(object.className());
  }
  frames += builder.framed();
  return enqueue(lock, frames);
}

bool FrameWriter::sendEvent(uint64_t subscription, const EventObject& event) {
  std::unique_lock lock(mutex_);
  std::string frames;
  auto target = schemas_.number(event.target.schema(), frames);
  auto previous = schemas_.number(event.previous.schema(), frames);
  PayloadBuilder builder(Verb::Event, subscription);
  builder.add(Value::text(event.className))
      .addObject(target, event.target)
      .addObject(previous, event.previous);
  if (!fits(builder)) {
    enqueue(lock, frames);
    tooLarge(event.className);
  }
  frames += builder.framed();
  return enqueue(lock, frames);
}

int64_t FrameWriter::declare(const SchemaPtr& schema) {
  std::unique_lock lock(mutex_);
  std::string frames;
  auto number = schemas_.number(schema, frames);
  if (!frames.empty()) enqueue(lock, frames);
  return number;
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
