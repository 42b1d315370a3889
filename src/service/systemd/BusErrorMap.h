#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "core/ComError.h"
#include "service/systemd/ServiceMapping.h"

namespace kestrava::service::systemd {

// The one place where a failed sd-bus call becomes what Kestrava reports: a control method's
// return code when systemd refused the request, a ComError when nobody could answer it.
struct BusFailure {
  std::string name;     // D-Bus error name; empty when sd-bus failed locally
  std::string message;  // systemd's own text
  int errnoValue = 0;   // positive errno
};

BusFailure describeFailure(const sd_bus_error* error, int result);

// The bus or the service manager is gone, or did not answer in time.
bool isTransportFailure(const BusFailure& failure);
// systemd or polkit refused the caller.
bool isAccessDenied(const BusFailure& failure);
// The unit or the kernel offers no such operation (the cgroup v1 freezer, for one).
bool isNotSupported(const BusFailure& failure);

// The return code of a control method whose request systemd refused.
int32_t returnCodeFor(ServiceMethod method, const BusFailure& failure);

// A ComError for a failure while reading (or when the bus failed under a control method).
ComError toComError(const BusFailure& failure, std::string_view doing);

}  // namespace kestrava::service::systemd
