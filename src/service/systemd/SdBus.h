#pragma once

#include <systemd/sd-bus.h>

#include <memory>

namespace kestrava::service::systemd {

// Owning handles for sd-bus objects, so no early return leaks a reference.
struct BusUnref {
  void operator()(sd_bus* bus) const { sd_bus_close_unref(bus); }
};
struct MessageUnref {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
struct SlotUnref {
  void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
struct CredsUnref {
  void operator()(sd_bus_creds* creds) const { sd_bus_creds_unref(creds); }
};

using BusPtr = std::unique_ptr<sd_bus, BusUnref>;
using MessagePtr = std::unique_ptr<sd_bus_message, MessageUnref>;
using SlotPtr = std::unique_ptr<sd_bus_slot, SlotUnref>;
using CredsPtr = std::unique_ptr<sd_bus_creds, CredsUnref>;

// An sd_bus_error that frees its name and message when it goes out of scope.
class BusError {
 public:
  BusError() = default;
  ~BusError() { sd_bus_error_free(&error_); }
  BusError(const BusError&) = delete;
  BusError& operator=(const BusError&) = delete;

  sd_bus_error* get() { return &error_; }
  const sd_bus_error* get() const { return &error_; }

 private:
  sd_bus_error error_ = SD_BUS_ERROR_NULL;
};

}  // namespace kestrava::service::systemd
