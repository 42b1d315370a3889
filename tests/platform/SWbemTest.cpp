#include <gtest/gtest.h>

#include <QApplication>
#include <QThread>
#include <thread>

#include "platform/SWbemLocator.h"
#include "platform/SWbemServices.h"
#include "platform/SWbemSink.h"
#include "support/ScriptedService.h"

namespace kestrava {
namespace {

using testing::ScriptedNetwork;
using testing::ScriptedService;

const char* kChangeQuery =
    "Select * from __InstanceModificationEvent Within 2.0 Where TargetInstance Isa "
    "'Win32_Service'";

int errorOf(const std::function<void()>& statement) {
  try {
    statement();
  } catch (const ComError& e) {
    return e.number();
  }
  return 0;
}

class SWbemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    network.add("here", service);
    network.add("there", other);
    for (ScriptedService* s : {&service, &other}) {
      s->addClass("Win32_Service", "Name", {"Name", "State", "AcceptPause"});
      s->addObject("Win32_Service",
                   {{"Name", Value::text("alpha")}, {"State", Value::text("Running")}});
      s->addObject("Win32_Service",
                   {{"Name", Value::text("beta")}, {"State", Value::text("Stopped")}});
      s->addObject("Win32_Service", {{"Name", Value::text("gamma")}});
    }
  }
  std::shared_ptr<SWbemServices> connect(const std::string& computer) {
    return locator.ConnectServer(computer);
  }

  ScriptedService service;
  ScriptedService other;
  ScriptedNetwork network;
  SWbemLocator locator{network.factory()};
};

TEST_F(SWbemTest, LocatorPassesTheNameAndRefusesOtherIdentities) {
  auto services = connect("here");
  EXPECT_NE(services, nullptr);
  EXPECT_EQ(service.calls(), (std::vector<std::string>{"connect"}));
  service.clearCalls();
  EXPECT_EQ(errorOf([&] { locator.ConnectServer("here", "", "admin"); }),
            err::kWbemInvalidParameter);
  EXPECT_EQ(errorOf([&] { locator.ConnectServer("here", "root\\other"); }),
            err::kWbemInvalidParameter);
  EXPECT_TRUE(service.calls().empty()) << "refused before any connect";
  EXPECT_EQ(errorOf([&] { locator.ConnectServer("nowhere"); }), err::kRpcServerUnavailable);
  SWbemLocator empty(
      [](const std::string&, const ConnectHints&) { return std::unique_ptr<Connection>(); });
  EXPECT_EQ(errorOf([&] { empty.ConnectServer("x"); }), err::kWbemFailed);
}

TEST_F(SWbemTest, QueryIsWqlOnly) {
  auto services = connect("here");
  service.clearCalls();
  EXPECT_EQ(errorOf([&] { services->ExecQuery("Select * From Win32_Service", "SQL"); }),
            err::kWbemInvalidParameter);
  EXPECT_TRUE(service.calls().empty());
  auto set = services->ExecQuery("Select * From Win32_Service", "wql");
  EXPECT_EQ(service.calls(), (std::vector<std::string>{"query Select * From Win32_Service"}));
  int count = 0;
  while (set.Next()) ++count;
  EXPECT_EQ(count, 3);
}

TEST_F(SWbemTest, ObjectSetFailingPartWayKeepsWhatItDeliveredAndThenEnds) {
  service.failures().enumerateAfter = {
      2, ComError(err::kRpcServerUnavailable, "The RPC server is unavailable. ", "SWbemObjectSet")};
  auto services = connect("here");
  auto set = services->ExecQuery("Select * From Win32_Service");
  auto first = set.Next();
  auto second = set.Next();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(errorOf([&] { set.Next(); }), err::kRpcServerUnavailable);
  EXPECT_FALSE(set.Next().has_value()) << "a failed set is finished";
  EXPECT_FALSE(set.Next().has_value());
  EXPECT_EQ(first->Property("Name").asText(), "alpha");
  EXPECT_EQ(second->Property("state").asText(), "Stopped") << "names ignore case";
}

TEST_F(SWbemTest, PropertyReadsByNameAndAMissingOneFails438) {
  auto services = connect("here");
  SWbemObject object = services->Get("Win32_Service='beta'");
  EXPECT_EQ(object.Property("NAME").asText(), "beta");
  EXPECT_TRUE(object.Property("AcceptPause").isNull());
  EXPECT_EQ(errorOf([&] { (void)object.Property("StartMode"); }), err::kNoSuchMember);
  EXPECT_EQ(object.findProperty("StartMode"), nullptr);
  ASSERT_NE(object.findProperty("state"), nullptr);
  EXPECT_EQ(object.findProperty("state")->asText(), "Stopped");
  EXPECT_EQ(object.Path(), "Win32_Service='beta'");
  EXPECT_EQ(errorOf([&] { services->Get("Win32_Service='delta'"); }), err::kWbemNotFound);
}

TEST_F(SWbemTest, MethodGoesToTheObjectsPathAndReturnsItsResult) {
  service.onMethod = [](const std::string&, const std::string& method) {
    return Value::integer(method == "PauseService" ? 10 : 0);
  };
  auto services = connect("here");
  SWbemObject object = services->Get("Win32_Service='alpha'");
  service.clearCalls();
  EXPECT_EQ(object.ExecMethod("PauseService"), Value::integer(10));
  EXPECT_EQ(object.ExecMethod("StopService"), Value::integer(0));
  EXPECT_EQ(service.calls(),
            (std::vector<std::string>{"method Win32_Service='alpha' PauseService",
                                      "method Win32_Service='alpha' StopService"}));
}

TEST_F(SWbemTest, MethodOnAnObjectWhoseConnectionWasReleasedFailsAndSendsNothing) {
  auto services = connect("here");
  SWbemObject object = services->Get("Win32_Service='alpha'");
  services = connect("there");  // the only holder of the first connection lets it go
  EXPECT_EQ(service.openConnections(), 0u);
  service.clearCalls();
  EXPECT_EQ(errorOf([&] { object.ExecMethod("StopService"); }), err::kWbemCallCancelled);
  EXPECT_TRUE(service.calls().empty());
  EXPECT_TRUE(other.calls().size() == 1 && other.calls()[0] == "connect")
      << "nor does it reach the new connection";
  EXPECT_EQ(object.Property("Name").asText(), "alpha") << "its values stay readable";
}

class SinkTest : public SWbemTest {
 protected:
  void SetUp() override {
    SWbemTest::SetUp();
    QObject::connect(&sink, &SWbemSink::OnObjectReady, [this](const SWbemObject& object) {
      received.push_back(object.Property("Name").asText());
      onGuiThread = onGuiThread && QThread::currentThread() == qApp->thread();
    });
  }
  static EventObject changeOf(SWbemServices& services, const std::string& name) {
    EventObject event;
    event.className = "__InstanceModificationEvent";
    event.target = services.Get("Win32_Service='" + name + "'").data();
    event.previous = event.target;
    return event;
  }
  static void deliverFromAnotherThread(ScriptedService& from, const EventObject& event) {
    std::thread([&] { from.deliver(event); }).join();
  }

  SWbemSink sink;
  std::vector<std::string> received;
  bool onGuiThread = true;
};

TEST_F(SinkTest, EventFromAnotherThreadArrivesOnTheGuiThread) {
  auto services = connect("here");
  services->ExecNotificationQueryAsync(sink, kChangeQuery);
  EXPECT_EQ(service.calls().back(), std::string("subscribe ") + kChangeQuery);
  EXPECT_EQ(sink.activeSubscriptions(), 1u);
  deliverFromAnotherThread(service, changeOf(*services, "beta"));
  EXPECT_TRUE(received.empty()) << "nothing arrives outside the event loop";
  QApplication::processEvents();
  EXPECT_EQ(received, (std::vector<std::string>{"beta"}));
  EXPECT_TRUE(onGuiThread);
}

TEST_F(SinkTest, EventsQueuedBeforeCancelAreDropped) {
  auto services = connect("here");
  services->ExecNotificationQueryAsync(sink, kChangeQuery);
  services->ExecNotificationQueryAsync(sink, kChangeQuery);
  deliverFromAnotherThread(service, changeOf(*services, "alpha"));
  sink.Cancel();
  EXPECT_EQ(sink.activeSubscriptions(), 0u);
  EXPECT_EQ(service.activeSubscriptions(), 0u);
  QApplication::processEvents();
  EXPECT_TRUE(received.empty());
  // A new subscription hears only what comes after it.
  services->ExecNotificationQueryAsync(sink, kChangeQuery);
  deliverFromAnotherThread(service, changeOf(*services, "gamma"));
  QApplication::processEvents();
  EXPECT_EQ(received, (std::vector<std::string>{"gamma"}));
}

TEST_F(SinkTest, SinkDestroyedWithEventsQueuedDropsThem) {
  auto services = connect("here");
  auto doomed = std::make_unique<SWbemSink>();
  int arrived = 0;
  QObject::connect(doomed.get(), &SWbemSink::OnObjectReady, [&] { ++arrived; });
  services->ExecNotificationQueryAsync(*doomed, kChangeQuery);
  deliverFromAnotherThread(service, changeOf(*services, "alpha"));
  doomed.reset();
  EXPECT_EQ(service.activeSubscriptions(), 0u) << "the sink ends its subscriptions as it goes";
  QApplication::processEvents();
  EXPECT_EQ(arrived, 0);
}

TEST_F(SinkTest, CancelEndsEverySubscriptionAndReportsTheFirstFailure) {
  auto here = connect("here");
  auto there = connect("there");
  here->ExecNotificationQueryAsync(sink, kChangeQuery);
  there->ExecNotificationQueryAsync(sink, kChangeQuery);
  here->ExecNotificationQueryAsync(sink, kChangeQuery);
  other.failures().cancel = ComError(err::kRpcServerUnavailable, "gone ", "SWbemSink");
  EXPECT_EQ(errorOf([&] { sink.Cancel(); }), err::kRpcServerUnavailable);
  EXPECT_EQ(sink.activeSubscriptions(), 0u);
  EXPECT_EQ(service.activeSubscriptions(), 0u) << "the failure stops no other cancel";
  other.failures().cancel.reset();
  EXPECT_EQ(errorOf([&] { sink.Cancel(); }), 0) << "nothing is left to cancel";
}

TEST_F(SinkTest, CancelSkipsSubscriptionsOfAReleasedConnection) {
  auto services = connect("here");
  services->ExecNotificationQueryAsync(sink, kChangeQuery);
  services.reset();
  service.clearCalls();
  EXPECT_EQ(errorOf([&] { sink.Cancel(); }), 0);
  EXPECT_TRUE(service.calls().empty());
  EXPECT_EQ(sink.activeSubscriptions(), 0u);
}

TEST_F(SinkTest, RefusedSubscriptionIsNotCounted) {
  auto services = connect("here");
  service.failures().subscribe = ComError(err::kWbemAccessDenied, "Access denied ", "SWbemSink");
  EXPECT_EQ(errorOf([&] { services->ExecNotificationQueryAsync(sink, kChangeQuery); }),
            err::kWbemAccessDenied);
  EXPECT_EQ(sink.activeSubscriptions(), 0u);
  EXPECT_EQ(errorOf([&] { services->ExecNotificationQueryAsync(sink, kChangeQuery, "SQL"); }),
            err::kWbemInvalidParameter);
}

}  // namespace
}  // namespace kestrava
