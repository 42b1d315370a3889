#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <thread>

#include "remote/MessageCodec.h"
#include "remote/RemoteConnection.h"
#include "remote/RemoteTestSupport.h"
#include "service/LocalService.h"
#include "support/ScriptedService.h"

namespace kestrava::remote {
namespace {

using kestrava::testing::ScriptedService;
using testing::GatedConnection;
using testing::InProcessAgent;
using testing::Latch;
using testing::SocketPair;
using testing::SocketTransport;

std::string describe(const std::function<void()>& call) {
  try {
    call();
  } catch (const ComError& e) {
    return e.description() + "|" + e.source() + "|" + std::to_string(e.number());
  }
  return "no error";
}

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// One computer's service, served by an in-process agent and reached through RemoteConnection.
class RemoteOverAgent : public ::testing::Test {
 protected:
  RemoteOverAgent() {
    service.addClass("Win32_Process", "Handle",
                     {"Handle", "Name", "WorkingSetSize", "Priority", "Ratio", "Critical",
                      "CommandLine", "Arguments", "ExecutablePath"});
    service.addObject("Win32_Process",
                      {{"Handle", Value::text("1")},
                       {"Name", Value::text("123")},
                       {"WorkingSetSize", Value::integer(INT64_MAX)},
                       {"Priority", Value::integer(-8)},
                       {"Ratio", Value::real(0.1)},
                       {"Critical", Value::boolean(true)},
                       {"CommandLine", Value::null()},
                       {"Arguments", Value::array({Value::text("-v"), Value::integer(2)})}});
    for (int i = 2; i <= 6; ++i)
      service.addObject("Win32_Process",
                        {{"Handle", Value::text(std::to_string(i))},
                         {"Name", Value::text(std::string("caf\xc3\xa9\xff", 5))}});
  }

  std::unique_ptr<RemoteConnection> connect(InProcessAgent& agent) {
    return std::make_unique<RemoteConnection>(agent.transport(), "far");
  }
  std::unique_ptr<RemoteConnection> connect() {
    agents.push_back(std::make_unique<InProcessAgent>([this] { return service.connect(); }));
    return connect(*agents.back());
  }

  ScriptedService service;
  std::vector<std::unique_ptr<InProcessAgent>> agents;
};

std::vector<ManagementObject> drain(ObjectStream& stream) {
  std::vector<ManagementObject> out;
  while (auto o = stream.next()) out.push_back(std::move(*o));
  return out;
}

TEST_F(RemoteOverAgent, AQueryGivesTheSameObjectsWithTheSameKindsAsTheServiceItself) {
  auto remote = connect();
  auto got = drain(*remote->execQuery("Select * From Win32_Process"));
  const auto& want = service.objects("Win32_Process");
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].className(), "Win32_Process");
    EXPECT_EQ(got[i].schema()->properties(), want[i].schema()->properties());
    EXPECT_EQ(got[i].values(), want[i].values()) << i;
    EXPECT_EQ(got[i].path(), want[i].path());
  }
  EXPECT_EQ(got[0].get("name").kind(), Value::Kind::Text) << "text that looks like a number";
  EXPECT_EQ(std::bit_cast<uint64_t>(got[0].get("Ratio").asReal()), std::bit_cast<uint64_t>(0.1));
  EXPECT_TRUE(got[0].get("ExecutablePath").isNull());
  EXPECT_EQ(got[0].schema(), got[5].schema()) << "one schema per class, as locally";
}

TEST_F(RemoteOverAgent, TheFirstObjectsArriveWhileTheServiceIsStillProducingTheRest) {
  auto gate = std::make_shared<Latch>();
  agents.push_back(std::make_unique<InProcessAgent>(
      [&] { return std::make_unique<GatedConnection>(service.connect(), 2, gate); }));
  auto remote = connect(*agents.back());
  auto stream = remote->execQuery("Select * From Win32_Process");
  EXPECT_EQ(stream->next()->get("Handle").asText(), "1");
  EXPECT_EQ(stream->next()->get("Handle").asText(), "2");
  EXPECT_FALSE(gate->isOpen()) << "two objects came before the service made the third";
  gate->open();
  EXPECT_EQ(drain(*stream).size(), 4u);
  EXPECT_FALSE(stream->next().has_value());
}

TEST_F(RemoteOverAgent, ErrorsKeepTheirNumberDescriptionAndSource) {
  auto remote = connect();
  EXPECT_EQ(describe([&] { remote->execQuery("Select * From Win32_Nope"); }),
            "Invalid class |SWbemServicesEx|" + std::to_string(err::kWbemInvalidClass));
  EXPECT_EQ(describe([&] { remote->getObject("Win32_Process='99'"); }),
            "Not found |SWbemServicesEx|" + std::to_string(err::kWbemNotFound));
  service.onMethod = [](const std::string&, const std::string&) -> Value {
    throw ComError(err::kWbemAccessDenied, "Access denied ", "SWbemObjectEx");
  };
  EXPECT_EQ(describe([&] { remote->execMethod("Win32_Process='1'", "Terminate"); }),
            "Access denied |SWbemObjectEx|" + std::to_string(err::kWbemAccessDenied));
  EXPECT_EQ(remote->getObject("Win32_Process='1'").get("Name").asText(), "123")
      << "a failed call leaves the connection working";
}

TEST_F(RemoteOverAgent, AnEnumerationThatFailsPartWayKeepsWhatItDelivered) {
  service.failures().enumerateAfter = {3, ComError(err::kWbemFailed, "Generic failure ", "X")};
  auto remote = connect();
  auto stream = remote->execQuery("Select * From Win32_Process");
  std::vector<ManagementObject> got;
  EXPECT_EQ(describe([&] {
              while (auto o = stream->next()) got.push_back(*o);
            }),
            "Generic failure |X|" + std::to_string(err::kWbemFailed));
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[2].get("Handle").asText(), "3");
  EXPECT_FALSE(stream->next().has_value()) << "a stream is finished after its error";
  service.failures().enumerateAfter.reset();
  EXPECT_EQ(drain(*remote->execQuery("Select * From Win32_Process")).size(), 6u);
}

TEST_F(RemoteOverAgent, MethodResultsKeepTheirKind) {
  service.onMethod = [](const std::string& path, const std::string& method) {
    return method == "Text" ? Value::text("0") : Value::integer(static_cast<int64_t>(path.size()));
  };
  auto remote = connect();
  EXPECT_EQ(remote->execMethod("Win32_Process='1'", "Text"), Value::text("0"));
  EXPECT_EQ(remote->execMethod("Win32_Process='1'", "Other"), Value::integer(17));
  remote.reset();
  agents.clear();  // the agent's thread has ended: its call log is still
  auto calls = service.calls();
  EXPECT_EQ(calls.at(calls.size() - 2), "method Win32_Process='1' Other");
}

// ---- what needs no answer is not waited for ----

size_t timesSent(ScriptedService& service, const std::string& call) {
  return service.timesCalled(call);
}

TEST_F(RemoteOverAgent, QueriesAndSubscriptionsJudgedInvalidByTheNamedClassesNeverTravel) {
  auto schema = service.objects("Win32_Process").front().schema();
  agents.push_back(std::make_unique<InProcessAgent>([&] {
    return std::make_unique<testing::NamingClasses>(service.connect(),
                                                    std::vector<SchemaPtr>{schema});
  }));
  auto remote = connect(*agents.back());
  EXPECT_TRUE(has(describe([&] { remote->execQuery("Select * From Win32_Nope"); }),
                  "Invalid class: no class Win32_Nope|SWbemServicesEx|" +
                      std::to_string(err::kWbemInvalidClass)));
  EXPECT_TRUE(has(describe([&] { remote->execQuery("Select Nope From Win32_Process"); }),
                  "Invalid query: Win32_Process has no property Nope|SWbemServicesEx|" +
                      std::to_string(err::kWbemInvalidQuery)));
  EXPECT_TRUE(has(describe([&] {
                    remote->subscribe(
                        "Select * from __InstanceModificationEvent Within 2 Where TargetInstance "
                        "Isa 'Win32_Nope'",
                        [](const EventObject&) {});
                  }),
                  "Invalid class: no class Win32_Nope|"));
  EXPECT_TRUE(has(describe([&] {
                    remote->subscribe(
                        "Select * from __InstanceDeletionEvent Where TargetInstance Isa "
                        "'Win32_Process' And TargetInstance.Nope = 1",
                        [](const EventObject&) {});
                  }),
                  "Invalid query: Win32_Process has no property Nope|"));
  // Valid ones go without waiting; a refusal of the far side comes with the first object.
  service.failures().query = ComError(err::kWbemAccessDenied, "Access denied ", "SWbemServicesEx");
  auto refused = remote->execQuery("select name from win32_process");
  EXPECT_EQ(describe([&] { refused->next(); }),
            "Access denied |SWbemServicesEx|" + std::to_string(err::kWbemAccessDenied));
  service.failures().query.reset();
  EXPECT_EQ(drain(*remote->execQuery("Select Handle From Win32_Process")).size(), 6u);
  remote.reset();
  agents.clear();
  for (const auto& call : service.calls()) EXPECT_FALSE(has(call, "Nope")) << call;
}

TEST_F(RemoteOverAgent, QueriesReadAheadAreTakenOnceInTurnAndAnyOtherCallDropsTheRest) {
  auto remote = connect();
  remote->readAhead({"Select * From Win32_Process", "Select Name From Win32_Process",
                     "Select Handle From Win32_Process"});
  EXPECT_EQ(drain(*remote->execQuery("Select * From Win32_Process")).size(), 6u);
  EXPECT_EQ(drain(*remote->execQuery("Select Name From Win32_Process")).size(), 6u);
  // The agent begins the queries read ahead on its own; wait (bounded) until it has begun the
  // last one, so that what the action drops was read, and the refill below must read anew.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (timesSent(service, "query Select Handle From Win32_Process") == 0 &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_EQ(timesSent(service, "query Select Handle From Win32_Process"), 1u);
  remote->getObject("Win32_Process='1'");  // as a service action does: what is left is dropped
  EXPECT_EQ(drain(*remote->execQuery("Select Handle From Win32_Process")).size(), 6u);
  EXPECT_EQ(drain(*remote->execQuery("Select * From Win32_Process")).size(), 6u);
  remote->readAhead({"Select Name From Win32_Process"});
  EXPECT_EQ(drain(*remote->execQuery("Select * From Win32_Process")).size(), 6u)
      << "a query out of turn is asked anew";
  remote.reset();
  agents.clear();
  EXPECT_EQ(timesSent(service, "query Select * From Win32_Process"), 3u);
  // The last "Select Name" was dropped unread: whether the agent saw its cancel in time is a race.
  EXPECT_GE(timesSent(service, "query Select Name From Win32_Process"), 1u);
  EXPECT_LE(timesSent(service, "query Select Name From Win32_Process"), 2u);
  EXPECT_EQ(timesSent(service, "query Select Handle From Win32_Process"), 2u)
      << "the refill after the action read anew";
}

TEST_F(RemoteOverAgent, QueriesNamedAtTheConnectCostNoRoundTripAndAreJudgedWhenTaken) {
  auto schema = service.objects("Win32_Process").front().schema();
  InProcessAgent agent([&] {
    return std::make_unique<testing::NamingClasses>(service.connect(),
                                                    std::vector<SchemaPtr>{schema});
  });
  RemoteConnection remote(agent.transport(), "far", RemoteLimits{},
                          {"Select * From Win32_Process", "Select Nope From Win32_Process",
                           "Select Handle From Win32_Process"});
  EXPECT_EQ(drain(*remote.execQuery("Select * From Win32_Process")).size(), 6u);
  EXPECT_EQ(remote.roundTrips(), 1u) << "the query went with the hello";
  // Sent before the classes were known, a bad one still fails as it would have at once.
  const std::string bad = describe([&] { remote.execQuery("Select Nope From Win32_Process"); });
  EXPECT_EQ(bad.rfind("Invalid query", 0), 0u) << bad;
  EXPECT_TRUE(has(bad, "Nope")) << bad;
  EXPECT_TRUE(has(bad, "|SWbemServicesEx|" + std::to_string(err::kWbemInvalidQuery))) << bad;
  EXPECT_EQ(drain(*remote.execQuery("Select Handle From Win32_Process")).size(), 6u);
  EXPECT_EQ(remote.roundTrips(), 1u);
  EXPECT_EQ(timesSent(service, "query Select * From Win32_Process"), 1u);
  EXPECT_EQ(timesSent(service, "query Select Handle From Win32_Process"), 1u);
}

TEST_F(RemoteOverAgent, AnAbandonedQueryDoesNotDisturbTheNextCall) {
  auto remote = connect();
  {
    auto stream = remote->execQuery("Select * From Win32_Process");
    EXPECT_TRUE(stream->next().has_value());
  }
  EXPECT_EQ(remote->getObject("Win32_Process='4'").get("Handle").asText(), "4");
  EXPECT_EQ(drain(*remote->execQuery("Select * From Win32_Process")).size(), 6u);
}

TEST_F(RemoteOverAgent, AStreamKeptPastItsConnectionFailsCleanly) {
  auto gate = std::make_shared<Latch>();
  agents.push_back(std::make_unique<InProcessAgent>(
      [&] { return std::make_unique<GatedConnection>(service.connect(), 1, gate); }));
  auto remote = connect(*agents.back());
  auto stream = remote->execQuery("Select * From Win32_Process");
  remote.reset();
  gate->open();
  size_t delivered = 0;
  std::string error = describe([&] {
    while (stream->next()) ++delivered;
  });
  EXPECT_LE(delivered, 1u);
  EXPECT_TRUE(has(error, "The connection to \"far\" was closed before this call")) << error;
  EXPECT_FALSE(stream->next().has_value());
}

// ---- a consumer slower than the far side ----

// Yields kCount objects of about 4 KiB each and counts how many it has produced.
class CountingProvider final : public service::ClassProvider {
 public:
  static constexpr int kCount = 5000;
  explicit CountingProvider(std::shared_ptr<std::atomic<int>> produced)
      : produced_(std::move(produced)) {}
  const SchemaPtr& schema() const override { return schema_; }
  void enumerate(const service::PropertySet&,
                 const std::function<bool(ManagementObject&&)>& sink) override {
    for (int i = 0; i < kCount; ++i) {
      ManagementObject object(schema_);
      object.set("Name", Value::text(std::to_string(i)));
      object.set("Data", Value::text(std::string(4096, static_cast<char>('a' + i % 26))));
      ++*produced_;
      if (!sink(std::move(object))) return;
    }
  }

 private:
  std::shared_ptr<std::atomic<int>> produced_;
  SchemaPtr schema_ = std::make_shared<const ClassSchema>("Bench_Blob", "Name",
                                                          std::vector<std::string>{"Name", "Data"});
};

class SlowConsumer : public ::testing::Test {
 protected:
  SlowConsumer()
      : agent_([this] {
          service::ProviderList providers;
          providers.push_back(std::make_unique<CountingProvider>(produced_));
          return std::make_unique<service::LocalService>(std::move(providers));
        }),
        remote_(agent_.transport(), "far") {}

  // How many objects the far side has produced once it has stopped producing (bounded wait).
  int producedWhenStalled() {
    int last = -1;
    auto stableSince = std::chrono::steady_clock::now();
    for (int i = 0; i < 200; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
      if (*produced_ != last) {
        last = *produced_;
        stableSince = std::chrono::steady_clock::now();
      } else if (std::chrono::steady_clock::now() - stableSince > std::chrono::milliseconds(300)) {
        break;
      }
    }
    return last;
  }

  // Drains the stream; whether its objects are the provider's, all of them, in order.
  static bool readsAllInOrder(ObjectStream& stream, int from) {
    int next = from;
    while (auto o = stream.next())
      if (o->get("Name").asText() != std::to_string(next++)) return false;
    return next == CountingProvider::kCount;
  }

  std::shared_ptr<std::atomic<int>> produced_ = std::make_shared<std::atomic<int>>(0);
  InProcessAgent agent_;
  RemoteConnection remote_;
};

TEST_F(SlowConsumer, HoldsTheFarSideBackInsteadOfGatheringItsResult) {
  auto stream = remote_.execQuery("Select * From Bench_Blob");
  ASSERT_EQ(stream->next()->get("Name").asText(), "0");
  int produced = producedWhenStalled();
  EXPECT_LT(produced, CountingProvider::kCount / 2)
      << "about 20 MB were produced for a consumer that took one object";
  EXPECT_TRUE(readsAllInOrder(*stream, 1));
}

TEST_F(SlowConsumer, ACallBehindAHeldBackResultIsStillAnswered) {
  auto stream = remote_.execQuery("Select Name, Data From Bench_Blob");
  ASSERT_TRUE(stream->next().has_value());
  producedWhenStalled();
  EXPECT_EQ(remote_.getObject("Bench_Blob='7'").get("Name").asText(), "7");
  EXPECT_TRUE(readsAllInOrder(*stream, 1));
}

// ---- notifications ----

class Recorder {
 public:
  EventCallback callback() {
    return [this](const EventObject& e) {
      std::lock_guard lock(mutex_);
      events_.push_back(e);
      cv_.notify_all();
    };
  }
  bool waitFor(size_t count) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(5), [&] { return events_.size() >= count; });
  }
  size_t count() {
    std::lock_guard lock(mutex_);
    return events_.size();
  }
  EventObject at(size_t i) {
    std::lock_guard lock(mutex_);
    return events_.at(i);
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<EventObject> events_;
};

TEST_F(RemoteOverAgent, NotificationsArriveWithTargetAndPreviousInstances) {
  auto remote = connect();
  Recorder recorder;
  auto id = remote->subscribe("Select * from __InstanceModificationEvent Within 2.0",
                              recorder.callback());
  const auto& objects = service.objects("Win32_Process");
  service.deliver({"__InstanceModificationEvent", objects[1], objects[0]});
  ASSERT_TRUE(recorder.waitFor(1));
  auto event = recorder.at(0);
  EXPECT_EQ(event.className, "__InstanceModificationEvent");
  EXPECT_EQ(event.target.values(), objects[1].values());
  EXPECT_EQ(event.previous.values(), objects[0].values());
  // Requests and notifications share the stream.
  EXPECT_EQ(drain(*remote->execQuery("Select * From Win32_Process")).size(), 6u);
  remote->cancel(id);
  service.deliver({"__InstanceModificationEvent", objects[2], objects[0]});
  remote->getObject("Win32_Process='1'");  // the agent has handled everything before this reply
  EXPECT_EQ(recorder.count(), 1u);
  EXPECT_EQ(service.activeSubscriptions(), 0u) << "the agent ended it too";
  remote->cancel(id);
  remote->cancel(12345);
}

TEST_F(RemoteOverAgent, CancelWaitsForARunningCallbackAndNoneRunsAfterIt) {
  auto remote = connect();
  Latch started;
  std::atomic<int> calls{0};
  std::atomic<bool> finished{false};
  auto id = remote->subscribe("q", [&](const EventObject&) {
    ++calls;
    started.open();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    finished = true;
  });
  const auto& objects = service.objects("Win32_Process");
  std::thread producer([&] { service.deliver({"e", objects[0], objects[1]}); });
  ASSERT_TRUE(started.wait());
  remote->cancel(id);
  EXPECT_TRUE(finished) << "cancel returned while the callback still ran";
  producer.join();
  service.deliver({"e", objects[0], objects[1]});
  remote->getObject("Win32_Process='1'");
  EXPECT_EQ(calls, 1);
}

TEST_F(RemoteOverAgent, ACallbackMayCancelItsOwnSubscriptionButNotCallTheService) {
  auto remote = connect();
  SubscriptionId id = 0;
  std::string fromCallback;
  Latch done;
  id = remote->subscribe("q", [&](const EventObject&) {
    fromCallback = describe([&] { remote->getObject("Win32_Process='1'"); });
    remote->cancel(id);
    done.open();
  });
  const auto& objects = service.objects("Win32_Process");
  service.deliver({"e", objects[0], objects[1]});
  ASSERT_TRUE(done.wait());
  EXPECT_TRUE(has(fromCallback, "notification handler")) << fromCallback;
  remote->getObject("Win32_Process='1'");
  EXPECT_EQ(service.activeSubscriptions(), 0u);
}

TEST_F(RemoteOverAgent, ARefusedSubscriptionThrowsAndDeliversNothing) {
  service.failures().subscribe =
      ComError(err::kWbemInvalidQuery, "Invalid query ", "SWbemServicesEx");
  auto remote = connect();
  Recorder recorder;
  EXPECT_EQ(describe([&] { remote->subscribe("nonsense", recorder.callback()); }),
            "Invalid query |SWbemServicesEx|" + std::to_string(err::kWbemInvalidQuery));
}

// ---- a far side that goes away ----

TEST_F(RemoteOverAgent, AnAgentThatDiesMidQueryFailsItAndEveryLaterCall) {
  auto gate = std::make_shared<Latch>();
  agents.push_back(std::make_unique<InProcessAgent>(
      [&] { return std::make_unique<GatedConnection>(service.connect(), 2, gate); }));
  auto remote = connect(*agents.back());
  auto stream = remote->execQuery("Select * From Win32_Process");
  auto first = stream->next();
  auto second = stream->next();
  agents.back()->kill();
  std::string error = describe([&] { stream->next(); });
  EXPECT_TRUE(has(error, "The connection to \"far\" was lost")) << error;
  EXPECT_TRUE(has(error, std::to_string(err::kRpcServerUnavailable))) << error;
  EXPECT_EQ(first->get("Name").asText(), "123") << "objects already delivered stay valid";
  EXPECT_EQ(second->get("Handle").asText(), "2");
  EXPECT_TRUE(has(describe([&] { remote->getObject("Win32_Process='1'"); }), "was lost"));
  EXPECT_TRUE(
      has(describe([&] { remote->subscribe("q", [](const EventObject&) {}); }), "was lost"));
  remote->cancel(1);  // cancelling on a lost connection is quietly done
  gate->open();
  // A new connection starts afresh.
  EXPECT_EQ(drain(*connect()->execQuery("Select * From Win32_Process")).size(), 6u);
}

TEST_F(RemoteOverAgent, ConnectionsComeAndGoWithoutLeavingDescriptorsOrThreads) {
  connect().reset();
  agents.clear();
  int before = testing::openDescriptors();
  for (int i = 0; i < 5; ++i) {
    auto remote = connect();
    drain(*remote->execQuery("Select * From Win32_Process"));
  }
  agents.clear();
  EXPECT_EQ(testing::openDescriptors(), before);
  EXPECT_EQ(service.openConnections(), 0u);
}

// ---- a far side that does not speak the protocol: the test writes its bytes ----

// Plays the agent with fixed bytes: a greeting, then one reply to the first request after the
// client's hello.
class ScriptedPeer {
 public:
  ScriptedPeer(std::string greeting, std::string reply = {}, bool hangUp = false) {
    thread_ = std::thread([this, greeting, reply, hangUp] {
      int fd = pair_.agent.get();
      testing::writeBytes(fd, greeting);
      if (!reply.empty()) {
        std::string seen;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!has(seen, "query ") && std::chrono::steady_clock::now() < deadline)
          seen += testing::readFor(fd, 1, std::chrono::milliseconds(50));
        testing::writeBytes(fd, reply);
      }
      if (hangUp) ::shutdown(fd, SHUT_RDWR);
      testing::readToEnd(fd, std::chrono::seconds(10));
    });
  }
  ~ScriptedPeer() {
    ::shutdown(pair_.agent.get(), SHUT_RDWR);
    thread_.join();
  }
  std::unique_ptr<Transport> transport() {
    return std::make_unique<SocketTransport>(std::move(pair_.client));
  }

 private:
  SocketPair pair_;
  std::thread thread_;
};

const std::string kHello = frame("hello 0\ni3;s14:kestrava-agents5:0.1.0");
const std::string kReady = frame("ready 0\na0:");

// Queries ride behind the hello, as the view build's do: the connect's verdict is the same.
std::string connectError(ScriptedPeer& peer,
                         std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
  return describe([&] {
    RemoteConnection(peer.transport(), "far", RemoteLimits{timeout},
                     {"Select * From Win32_Process"});
  });
}

TEST(ASilentFarSide, FailsTheWaitingCallAfterTheSilenceLimitAndEveryLaterOne) {
  ScriptedPeer peer(kHello + kReady);  // then nothing, and nothing closed
  RemoteConnection remote(peer.transport(), "far",
                          RemoteLimits{std::chrono::seconds(5), std::chrono::milliseconds(300)});
  std::string error = describe([&] { remote.getObject("Win32_Process='1'"); });
  EXPECT_TRUE(has(error,
                  "\"far\" did not answer within 300 milliseconds: nothing came back after the "
                  "request for \"Win32_Process='1'\", not even word that the agent was still "
                  "working"))
      << error;
  EXPECT_TRUE(has(error, "|SWbemServicesEx|" + std::to_string(err::kRpcServerUnavailable)))
      << error;
  EXPECT_EQ(describe([&] { drain(*remote.execQuery("Select * From Win32_Process")); }), error);
}

struct BadPeer {
  const char* name;
  std::string greeting;
  bool hangUp;
  std::vector<const char*> says;
};
void PrintTo(const BadPeer& c, std::ostream* os) {
  *os << c.name;
}

class ConnectToABadPeer : public ::testing::TestWithParam<BadPeer> {};

TEST_P(ConnectToABadPeer, FailsWithAClearLocatorError) {
  const auto& c = GetParam();
  ScriptedPeer peer(c.greeting, {}, c.hangUp);
  std::string error = connectError(peer, std::chrono::milliseconds(1500));
  EXPECT_TRUE(has(error, "|SWbemLocator|")) << c.name << ": " << error;
  for (const char* part : c.says) EXPECT_TRUE(has(error, part)) << c.name << ": " << error;
}

INSTANTIATE_TEST_SUITE_P(
    Transcripts, ConnectToABadPeer,
    ::testing::Values(
        BadPeer{"garbage",
                "Welcome to Debian!\nYou have mail.\n",
                false,
                {"does not speak Kestrava's protocol", "Welcome to Debian!\\x0AYou have mail",
                 "not a message length", "-2147217387"}},
        BadPeer{"half a frame then the end",
                "12\nhello 0",
                true,
                {"does not speak", "ended before a whole message"}},
        BadPeer{"nothing then the end", "", true, {"the test agent closed its end"}},
        BadPeer{"silent", "", false, {"did not answer within 1500 milliseconds", "gave up"}},
        BadPeer{"a newer agent",
                frame("hello 0\ni4;s14:kestrava-agents5:9.9.9") + kReady,
                false,
                {"is newer than this one", "protocol version 4 (agent 9.9.9)",
                 "this Kestrava speaks version 3 (" KESTRAVA_VERSION ")", "-2147217396"}},
        BadPeer{"an older agent",
                frame("hello 0\ni0;s14:kestrava-agents5:0.0.1"),
                false,
                {"is too old", "protocol version 0 (agent 0.0.1)", "version 3"}},
        BadPeer{"no hello first", kReady, false, {"does not speak", "ready out of turn"}},
        BadPeer{"service refused there",
                kHello + frame("error 0\ni-2147217405;s14:Access denied s12:SWbemLocator"),
                false,
                {"could not open the management service there: Access denied", "-2147217405"}},
        BadPeer{"an oversized first message",
                "99999999\n",
                false,
                {"does not speak", "longer than the limit"}},
        BadPeer{"hello, then the end",
                kHello,
                true,
                {"The agent on \"far\" ended before it was ready", "the test agent closed"}},
        BadPeer{"hello, then garbage",
                kHello + "oops",
                false,
                {"does not speak Kestrava's protocol", "it began with \"37\\x0Ahello 0"}}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

// After the hello, a broken message fails the operation that waits and every later one.
struct BadReply {
  const char* name;
  std::string reply;
  bool hangUp;
  const char* says;
};
void PrintTo(const BadReply& c, std::ostream* os) {
  *os << c.name;
}

class ABadReply : public ::testing::TestWithParam<BadReply> {};

TEST_P(ABadReply, LosesTheConnectionWithAClearError) {
  const auto& c = GetParam();
  ScriptedPeer peer(kHello + kReady, c.reply, c.hangUp);
  RemoteConnection remote(peer.transport(), "far");
  std::string error = describe([&] {
    auto stream = remote.execQuery("Select * From Win32_Process");
    drain(*stream);
  });
  EXPECT_TRUE(has(error, "The connection to \"far\" was lost")) << c.name << ": " << error;
  EXPECT_TRUE(has(error, c.says)) << c.name << ": " << error;
  EXPECT_EQ(describe([&] { remote.getObject("Win32_Process='1'"); }), error)
      << "the next call fails the same way";
}

INSTANTIATE_TEST_SUITE_P(
    Transcripts, ABadReply,
    ::testing::Values(
        BadReply{"garbage", "<html>", false, "malformed message (the stream holds something"},
        BadReply{"oversized", "9000000\n", false, "longer than the limit of 8388608 bytes"},
        BadReply{"unknown kind", frame("launch 1\n"), false, "unknown message kind 'launch'"},
        BadReply{"truncated", frame("ok 1\n") + "50\nobject 1\n", true,
                 "ended in the middle of a message"},
        BadReply{"undeclared schema", frame("ok 1\n") + frame("object 1\ni4;a0:"), false,
                 "schema never declared"},
        BadReply{"wrong shape", frame("ok 1\n") + frame("object 1\ni1;"), false,
                 "fewer than its 2 values"},
        BadReply{"a reply of the wrong kind", frame("result 1\ni0;"), false,
                 "a query was accepted with result"},
        BadReply{"the agent hangs up", frame("ok 1\n"), true, "the test agent closed its end"},
        BadReply{"a fatal error", frame("error 0\ni1;s9:shut downs1:x"), false,
                 "the agent reported: shut down"}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

}  // namespace
}  // namespace kestrava::remote
