#include "service/systemd/BusErrorMap.h"

#include <array>
#include <cerrno>
#include <cstring>

#include "service/systemd/ServiceReturnCode.h"

namespace kestrava::service::systemd {

namespace {

constexpr std::string_view kSource = "Win32_Service";

bool oneOf(std::string_view name, std::initializer_list<std::string_view> names) {
  for (auto n : names)
    if (n == name) return true;
  return false;
}

}  // namespace

BusFailure describeFailure(const sd_bus_error* error, int result) {
  BusFailure failure;
  if (error && sd_bus_error_is_set(error)) {
    failure.name = error->name ? error->name : "";
    failure.message = error->message ? error->message : "";
    failure.errnoValue = sd_bus_error_get_errno(error);
  } else {
    failure.errnoValue = result < 0 ? -result : EIO;
    failure.message = std::strerror(failure.errnoValue);
  }
  return failure;
}

bool isTransportFailure(const BusFailure& f) {
  if (oneOf(
          f.name,
          {"org.freedesktop.DBus.Error.NoReply", "org.freedesktop.DBus.Error.Disconnected",
           "org.freedesktop.DBus.Error.ServiceUnknown", "org.freedesktop.DBus.Error.NameHasNoOwner",
           "org.freedesktop.DBus.Error.Timeout", "org.freedesktop.DBus.Error.TimedOut",
           "org.freedesktop.DBus.Error.NoServer", "org.freedesktop.DBus.Error.LimitsExceeded",
           "org.freedesktop.DBus.Error.IOError", "org.freedesktop.DBus.Error.NoMemory"}))
    return true;
  if (!f.name.empty()) return false;
  static constexpr std::array<int, 9> kTransportErrnos{
      ENOTCONN, ECONNRESET, ECONNREFUSED, ETIMEDOUT, EPIPE, ESHUTDOWN, ENOENT, EIO, ENOMEM};
  for (int e : kTransportErrnos)
    if (e == f.errnoValue) return true;
  return false;
}

bool isAccessDenied(const BusFailure& f) {
  return oneOf(f.name, {"org.freedesktop.DBus.Error.AccessDenied",
                        "org.freedesktop.DBus.Error.InteractiveAuthorizationRequired",
                        "org.freedesktop.PolicyKit1.Error.NotAuthorized"}) ||
         (f.name.empty() && (f.errnoValue == EACCES || f.errnoValue == EPERM));
}

bool isNotSupported(const BusFailure& f) {
  return f.name == "org.freedesktop.DBus.Error.NotSupported" ||
         (f.name.empty() && f.errnoValue == EOPNOTSUPP);
}

int32_t returnCodeFor(ServiceMethod method, const BusFailure& f) {
  if (isAccessDenied(f)) return serviceReturn::kAccessDenied;
  if (isNotSupported(f)) return serviceReturn::kNotSupported;
  if (f.name == "org.freedesktop.systemd1.UnitMasked") return serviceReturn::kDisabled;
  if (f.name == "org.freedesktop.systemd1.UnitInactive") return serviceReturn::kNotActive;
  if (f.name == "org.freedesktop.systemd1.NoSuchUnit")
    return method == ServiceMethod::Start ? serviceReturn::kUnknownFailure
                                          : serviceReturn::kNotActive;
  if (oneOf(f.name, {"org.freedesktop.systemd1.OnlyByDependency",
                     "org.freedesktop.systemd1.JobTypeNotApplicable",
                     "org.freedesktop.systemd1.TransactionIsDestructive",
                     "org.freedesktop.systemd1.TransactionJobsConflicting",
                     "org.freedesktop.systemd1.TransactionOrderIsCyclic",
                     "org.freedesktop.systemd1.UnitBusy"}))
    return serviceReturn::kCannotAcceptControl;
  return serviceReturn::kUnknownFailure;
}

ComError toComError(const BusFailure& f, std::string_view doing) {
  std::string text = std::string(doing) + ": " + (f.message.empty() ? f.name : f.message);
  if (isAccessDenied(f)) return ComError(err::kWbemAccessDenied, text, std::string(kSource));
  if (isTransportFailure(f))
    return ComError(err::kWbemTransportFailure, text, std::string(kSource));
  return ComError(err::kWbemFailed, text, std::string(kSource));
}

}  // namespace kestrava::service::systemd
