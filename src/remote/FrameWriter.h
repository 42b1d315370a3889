#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "core/ComError.h"
#include "core/Connection.h"
#include "remote/Message.h"
#include "remote/SchemaCache.h"

namespace kestrava::remote {

// Writes whole frames to one descriptor, so notifications from a service thread never interleave
// with replies. Frames are handed to a writer thread, which sends whatever has gathered in one
// write: a fast producer's frames travel in large writes, a slow producer's frame leaves at once.
// At most kMaxPending bytes wait; a producer ahead of that waits for the peer to read. Remembers
// which class shapes the peer already knows. Once a write fails (the peer has gone) every later
// send returns false at once. While a request is being worked on, a `busy` frame goes out whenever
// nothing else has been written for busyInterval, so the client can tell slow from gone.
class FrameWriter {
 public:
  static constexpr size_t kMaxPending = 1024 * 1024;
  static constexpr std::chrono::milliseconds kBusyInterval{2000};

  explicit FrameWriter(int fd, std::chrono::milliseconds busyInterval = kBusyInterval);
  // Sends what is pending first.
  ~FrameWriter();
  FrameWriter(const FrameWriter&) = delete;
  FrameWriter& operator=(const FrameWriter&) = delete;

  bool send(const Message& message);
  // An object, preceded by its schema frame the first time its class shape is sent. An object
  // too large for one message throws ComError and sends nothing.
  bool sendObject(Verb verb, uint64_t id, const ManagementObject& object);
  bool sendEvent(uint64_t subscription, const EventObject& event);
  // Sends a class shape's schema frame unless the peer knows it already; its number.
  int64_t declare(const SchemaPtr& schema);
  bool sendError(uint64_t id, const ComError& error);
  // Waits until everything handed over has been written (or the peer has gone).
  void flush();
  // The request being worked on (its id goes in the busy frames), and its end.
  void working(uint64_t id);
  void idle();
  bool broken() const;

 private:
  bool enqueue(std::unique_lock<std::mutex>& lock, const std::string& frames);
  void writeLoop();
  bool awaitFrames(std::unique_lock<std::mutex>& lock);

  int fd_;
  const std::chrono::milliseconds busyInterval_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  SchemaCache schemas_;
  std::string pending_;
  std::string batch_;  // the writer thread's
  bool writing_ = false;
  bool stopping_ = false;
  bool broken_ = false;
  std::optional<uint64_t> working_;                 // the request under way
  std::chrono::steady_clock::time_point lastSent_;  // when bytes last went out or were queued
  std::thread writer_;
};

}  // namespace kestrava::remote
