#include "service/systemd/UnitPropertyParser.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>

#include "service/systemd/SdBus.h"

namespace kestrava::service::systemd {
namespace {

// A bus on one end of a socket pair: enough to build and read messages without a peer.
class OfflineBus {
 public:
  OfflineBus() {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return;
    peer_ = fds[1];
    sd_bus* bus = nullptr;
    sd_bus_new(&bus);
    bus_.reset(bus);
    sd_bus_set_fd(bus, fds[0], fds[0]);
    sd_bus_start(bus);
  }
  ~OfflineBus() {
    bus_.reset();
    if (peer_ >= 0) ::close(peer_);
  }

  // A sealed message, rewound for reading, whose body the function appends.
  MessagePtr message(const std::function<int(sd_bus_message*)>& append) {
    sd_bus_message* m = nullptr;
    EXPECT_GE(sd_bus_message_new_method_call(bus_.get(), &m, "a.b", "/a", "a.b", "M"), 0);
    MessagePtr message(m);
    EXPECT_GE(append(m), 0);
    EXPECT_GE(sd_bus_message_seal(m, ++cookie_, 0), 0);
    EXPECT_GE(sd_bus_message_rewind(m, 1), 0);
    return message;
  }

 private:
  BusPtr bus_;
  int peer_ = -1;
  uint64_t cookie_ = 0;
};

int appendExecStart(sd_bus_message* m, const char* path, std::vector<const char*> argv) {
  int r = sd_bus_message_open_container(m, 'a', "(sasbttttuii)");
  if (r < 0) return r;
  r = sd_bus_message_open_container(m, 'r', "sasbttttuii");
  if (r < 0) return r;
  sd_bus_message_append(m, "s", path);
  sd_bus_message_open_container(m, 'a', "s");
  for (const char* a : argv) sd_bus_message_append(m, "s", a);
  sd_bus_message_close_container(m);
  sd_bus_message_append(m, "bttttuii", 0, 0ull, 0ull, 0ull, 0ull, 0u, 0, 0);
  sd_bus_message_close_container(m);
  return sd_bus_message_close_container(m);
}

TEST(UnitPropertyParser, ReadsTheKnownPropertiesAndSkipsTheRest) {
  OfflineBus bus;
  MessagePtr m = bus.message([](sd_bus_message* m) {
    sd_bus_message_open_container(m, 'a', "{sv}");
    sd_bus_message_append(m, "{sv}", "Id", "s", "cron.service");
    sd_bus_message_append(m, "{sv}", "Names", "as", 2, "cron.service", "crond.service");
    sd_bus_message_append(m, "{sv}", "ActiveState", "s", "active");
    sd_bus_message_append(m, "{sv}", "CanStop", "b", 1);
    sd_bus_message_append(m, "{sv}", "MainPID", "u", 4242u);
    sd_bus_message_append(m, "{sv}", "ExecMainCode", "i", 2);
    sd_bus_message_append(m, "{sv}", "ExecMainStatus", "i", -3);
    sd_bus_message_append(m, "{sv}", "TimeoutStopUSec", "t", 90000000ull);
    sd_bus_message_open_container(m, 'e', "sv");
    sd_bus_message_append(m, "s", "ExecStart");
    sd_bus_message_open_container(m, 'v', "a(sasbttttuii)");
    appendExecStart(m, "/usr/sbin/cron", {"/usr/sbin/cron", "-f", "two words"});
    sd_bus_message_close_container(m);
    sd_bus_message_close_container(m);
    return sd_bus_message_close_container(m);
  });
  UnitRecord u;
  ASSERT_TRUE(parseUnitProperties(m.get(), u));
  EXPECT_EQ(u.id, "cron.service");
  EXPECT_EQ(u.activeState, "active");
  EXPECT_TRUE(u.canStop);
  EXPECT_EQ(u.mainPid, 4242u);
  EXPECT_EQ(u.execMainCode, 2);
  EXPECT_EQ(u.execMainStatus, -3);
  EXPECT_EQ(u.timeoutStopUSec, 90000000u);
  EXPECT_TRUE(u.hasExecStart);
  EXPECT_EQ(u.execStart, R"(/usr/sbin/cron -f "two words")");
}

TEST(UnitPropertyParser, AKnownPropertyOfAnotherTypeIsSkipped) {
  OfflineBus bus;
  MessagePtr m = bus.message([](sd_bus_message* m) {
    return sd_bus_message_append(m, "a{sv}", 4, "MainPID", "s", "not a number", "ActiveState", "u",
                                 7u, "ExecStart", "as", 1, "/bin/x", "SubState", "s", "running");
  });
  UnitRecord u;
  ASSERT_TRUE(parseUnitProperties(m.get(), u));
  EXPECT_EQ(u.mainPid, 0u);
  EXPECT_EQ(u.activeState, "");
  EXPECT_FALSE(u.hasExecStart);
  EXPECT_EQ(u.subState, "running");
}

TEST(UnitPropertyParser, AMalformedReplyFailsWithoutHarm) {
  OfflineBus bus;
  MessagePtr wrongShape = bus.message(
      [](sd_bus_message* m) { return sd_bus_message_append(m, "as", 1, "ActiveState"); });
  UnitRecord u;
  EXPECT_FALSE(parseUnitProperties(wrongShape.get(), u));

  MessagePtr empty = bus.message([](sd_bus_message*) { return 0; });
  EXPECT_FALSE(parseUnitProperties(empty.get(), u));

  MessagePtr noCommands = bus.message([](sd_bus_message* m) {
    sd_bus_message_open_container(m, 'a', "{sv}");
    sd_bus_message_open_container(m, 'e', "sv");
    sd_bus_message_append(m, "s", "ExecStart");
    sd_bus_message_open_container(m, 'v', "a(sasbttttuii)");
    sd_bus_message_append(m, "a(sasbttttuii)", 0);
    sd_bus_message_close_container(m);
    sd_bus_message_close_container(m);
    return sd_bus_message_close_container(m);
  });
  UnitRecord v;
  ASSERT_TRUE(parseUnitProperties(noCommands.get(), v));
  EXPECT_FALSE(v.hasExecStart);
}

}  // namespace
}  // namespace kestrava::service::systemd
