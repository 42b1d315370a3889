#include "service/systemd/BusErrorMap.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "service/systemd/SdBus.h"

namespace kestrava::service::systemd {
namespace {

TEST(BusErrorMap, RefusalsBecomeReturnCodes) {
  struct Case {
    const char* name;
    int errnoValue;
    ServiceMethod method;
    int32_t code;
  };
  const Case cases[] = {
      {"org.freedesktop.DBus.Error.AccessDenied", EACCES, ServiceMethod::Start, 2},
      {"org.freedesktop.DBus.Error.InteractiveAuthorizationRequired", EACCES, ServiceMethod::Stop,
       2},
      {"", EPERM, ServiceMethod::Pause, 2},
      {"org.freedesktop.DBus.Error.NotSupported", EOPNOTSUPP, ServiceMethod::Pause, 1},
      {"org.freedesktop.systemd1.UnitMasked", ESHUTDOWN, ServiceMethod::Start, 14},
      {"org.freedesktop.systemd1.UnitInactive", 0, ServiceMethod::Resume, 6},
      {"org.freedesktop.systemd1.NoSuchUnit", ENOENT, ServiceMethod::Stop, 6},
      {"org.freedesktop.systemd1.NoSuchUnit", ENOENT, ServiceMethod::Start, 8},
      {"org.freedesktop.systemd1.OnlyByDependency", 0, ServiceMethod::Stop, 5},
      {"org.freedesktop.systemd1.TransactionIsDestructive", 0, ServiceMethod::Start, 5},
      {"org.freedesktop.systemd1.JobTypeNotApplicable", 0, ServiceMethod::Stop, 5},
      {"org.freedesktop.DBus.Error.Failed", EIO, ServiceMethod::Start, 8},
      {"com.example.Whatever", 0, ServiceMethod::Resume, 8},
  };
  for (const Case& c : cases) {
    BusFailure f{c.name, "text", c.errnoValue};
    EXPECT_EQ(returnCodeFor(c.method, f), c.code) << c.name << " " << c.errnoValue;
  }
}

TEST(BusErrorMap, TransportFailuresAreTold) {
  const std::pair<BusFailure, bool> cases[] = {
      {{"org.freedesktop.DBus.Error.NoReply", "", 0}, true},
      {{"org.freedesktop.DBus.Error.ServiceUnknown", "", 0}, true},
      {{"org.freedesktop.DBus.Error.Disconnected", "", 0}, true},
      {{"org.freedesktop.DBus.Error.Timeout", "", 0}, true},
      {{"", "", ECONNRESET}, true},
      {{"", "", ENOTCONN}, true},
      {{"org.freedesktop.DBus.Error.AccessDenied", "", EACCES}, false},
      {{"org.freedesktop.systemd1.NoSuchUnit", "", ENOENT}, false},
      {{"", "", EINVAL}, false},
  };
  for (const auto& [failure, transport] : cases)
    EXPECT_EQ(isTransportFailure(failure), transport) << failure.name << failure.errnoValue;
  EXPECT_TRUE(isNotSupported({"org.freedesktop.DBus.Error.NotSupported", "", EOPNOTSUPP}));
  EXPECT_FALSE(isNotSupported({"org.freedesktop.DBus.Error.Failed", "", EOPNOTSUPP}));
}

TEST(BusErrorMap, ComErrorsCarryNumberTextAndSource) {
  ComError denied =
      toComError({"org.freedesktop.DBus.Error.AccessDenied", "Access denied", 0}, "Listing units");
  EXPECT_EQ(denied.number(), err::kWbemAccessDenied);
  EXPECT_EQ(denied.description(), "Listing units: Access denied");
  EXPECT_EQ(denied.source(), "Win32_Service");
  EXPECT_EQ(toComError({"org.freedesktop.DBus.Error.NoReply", "", 0}, "x").number(),
            err::kWbemTransportFailure);
  EXPECT_EQ(toComError({"org.freedesktop.DBus.Error.NoReply", "", 0}, "x").description(),
            "x: org.freedesktop.DBus.Error.NoReply");
  EXPECT_EQ(toComError({"org.freedesktop.DBus.Error.Failed", "boom", 0}, "x").number(),
            err::kWbemFailed);
}

TEST(BusErrorMap, DescribesSdBusErrorsAndBareResults) {
  BusError error;
  sd_bus_error_set(error.get(), "org.freedesktop.systemd1.UnitMasked", "Unit x is masked.");
  BusFailure named = describeFailure(error.get(), -1);
  EXPECT_EQ(named.name, "org.freedesktop.systemd1.UnitMasked");
  EXPECT_EQ(named.message, "Unit x is masked.");

  BusFailure bare = describeFailure(nullptr, -ECONNREFUSED);
  EXPECT_TRUE(bare.name.empty());
  EXPECT_EQ(bare.errnoValue, ECONNREFUSED);
  EXPECT_TRUE(isTransportFailure(bare));
  EXPECT_FALSE(bare.message.empty());
}

}  // namespace
}  // namespace kestrava::service::systemd
