#pragma once

#include <chrono>
#include <cstddef>
#include <exception>
#include <functional>
#include <list>

#include "service/systemd/BusErrorMap.h"
#include "service/systemd/SdBus.h"

namespace kestrava::service::systemd {

// Many method calls on one bus, pipelined: calls go out without waiting for earlier replies,
// at most `window` at a time (the system bus refuses more than 128 pending replies per
// connection), and each reply reaches its handler as it arrives. run() is bounded by a deadline.
class CallBatch {
 public:
  // Receives the reply, or the failure when the call failed (reply then null).
  using Handler = std::function<void(sd_bus_message* reply, const BusFailure* failure)>;

  CallBatch(sd_bus* bus, size_t window, std::chrono::milliseconds timeout);
  CallBatch(const CallBatch&) = delete;
  CallBatch& operator=(const CallBatch&) = delete;

  // Queues one call (built with sd_bus_message_new_method_call, arguments appended).
  void add(MessagePtr call, Handler handler);

  // Sends and receives until every call has its answer. Throws ComError when the bus fails or
  // the deadline passes; a handler's exception is rethrown here. Calls still pending are dropped.
  void run();

 private:
  struct Call {
    CallBatch* batch;
    MessagePtr message;
    Handler handler;
    SlotPtr slot;
  };
  static int onReply(sd_bus_message* reply, void* userdata, sd_bus_error* error);
  void finish(Call& call, sd_bus_message* reply) noexcept;
  void sendMore();

  sd_bus* bus_;
  size_t window_;
  std::chrono::steady_clock::time_point deadline_;
  std::list<Call> calls_;  // stable addresses: each pending call's userdata points into it
  std::list<Call>::iterator next_;
  size_t pending_ = 0;
  size_t answered_ = 0;
  std::exception_ptr failure_;
};

}  // namespace kestrava::service::systemd
