#include "service/systemd/CallBatch.h"

#include <cerrno>

namespace kestrava::service::systemd {

CallBatch::CallBatch(sd_bus* bus, size_t window, std::chrono::milliseconds timeout)
    : bus_(bus),
      window_(window == 0 ? 1 : window),
      deadline_(std::chrono::steady_clock::now() + timeout),
      next_(calls_.end()) {}

void CallBatch::add(MessagePtr call, Handler handler) {
  calls_.push_back(Call{this, std::move(call), std::move(handler), nullptr});
  if (next_ == calls_.end()) next_ = std::prev(calls_.end());
}

int CallBatch::onReply(sd_bus_message* reply, void* userdata, sd_bus_error*) {
  auto* call = static_cast<Call*>(userdata);
  call->batch->finish(*call, reply);
  return 0;
}

void CallBatch::finish(Call& call, sd_bus_message* reply) noexcept {
  --pending_;
  ++answered_;
  try {
    if (sd_bus_message_is_method_error(reply, nullptr)) {
      BusFailure failure = describeFailure(sd_bus_message_get_error(reply), -EIO);
      call.handler(nullptr, &failure);
    } else {
      call.handler(reply, nullptr);
    }
  } catch (...) {
    if (!failure_) failure_ = std::current_exception();
  }
}

void CallBatch::sendMore() {
  while (pending_ < window_ && next_ != calls_.end()) {
    Call& call = *next_++;
    sd_bus_slot* slot = nullptr;
    int r = sd_bus_call_async(bus_, &slot, call.message.get(), &CallBatch::onReply, &call, 0);
    if (r < 0) throw toComError(describeFailure(nullptr, r), "Sending a request to systemd");
    call.slot.reset(slot);
    call.message.reset();
    ++pending_;
  }
}

void CallBatch::run() {
  while (answered_ < calls_.size()) {
    sendMore();
    int r = sd_bus_process(bus_, nullptr);
    if (failure_) std::rethrow_exception(failure_);
    if (r < 0) throw toComError(describeFailure(nullptr, r), "Reading systemd's answers");
    if (r > 0) continue;
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline_)
      throw toComError(BusFailure{"org.freedesktop.DBus.Error.Timeout", "no answer in time", 0},
                       "Reading systemd's answers");
    auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline_ - now);
    r = sd_bus_wait(bus_, static_cast<uint64_t>(left.count()));
    if (r < 0 && r != -EINTR)
      throw toComError(describeFailure(nullptr, r), "Waiting for systemd's answers");
  }
}

}  // namespace kestrava::service::systemd
