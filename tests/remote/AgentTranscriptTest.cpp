#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>

#include "remote/MessageCodec.h"
#include "remote/RemoteTestSupport.h"
#include "support/ScriptedService.h"

namespace kestrava::remote {
namespace {

using kestrava::testing::ScriptedService;
using testing::GatedConnection;
using testing::Latch;
using testing::readFor;
using testing::SocketPair;
using testing::writeBytes;

std::string f(std::string_view payload) {
  return frame(payload);
}

const std::string kAgentHello = f("hello 0\ni3;s14:kestrava-agents5:" KESTRAVA_VERSION);
const std::string kClientHello = f("hello 0\ni3;s8:kestravas5:0.1.0");
const std::string kServiceSchema =
    f("schema 0\ni1;s13:Win32_Services4:Namea3:s4:Names5:States9:ProcessIda0:");

// An agent session on its own thread with the test speaking for the client, byte for byte.
class AgentTranscript : public ::testing::Test {
 protected:
  AgentTranscript() {
    service.addClass("Win32_Service", "Name", {"Name", "State", "ProcessId"});
    service.addObject("Win32_Service", {{"Name", Value::text("cron.service")},
                                        {"State", Value::text("Running")},
                                        {"ProcessId", Value::integer(612)}});
    service.addObject("Win32_Service", {{"Name", Value::text("123")}});
  }
  ~AgentTranscript() override {
    pair.client.reset();
    if (agent.joinable()) agent.join();
  }

  void start(AgentSession::Opener open = {}) {
    if (!open) open = [this] { return service.connect(); };
    agent = std::thread([this, open] {
      AgentSession session(pair.agent.get(), pair.agent.get(), open);
      outcome = session.run();
      pair.agent.reset();
    });
  }
  void handshake() {
    start();
    expect(kAgentHello);
    send(kClientHello);
    expect(f("ready 0\na0:"));
  }
  void send(const std::string& bytes) { writeBytes(pair.client.get(), bytes); }
  void expect(const std::string& bytes) {
    EXPECT_EQ(readFor(pair.client.get(), bytes.size()), bytes);
  }
  void expectNothingMore() {
    EXPECT_EQ(readFor(pair.client.get(), 1, std::chrono::milliseconds(100)), "");
  }
  AgentSession::Outcome finish() {
    pair.client.reset();
    agent.join();
    return outcome;
  }
  AgentSession::Outcome endOfAgent() {
    agent.join();
    return outcome;
  }

  ScriptedService service;
  SocketPair pair;
  std::thread agent;
  AgentSession::Outcome outcome = AgentSession::kClosed;
};

TEST_F(AgentTranscript, SaysHelloThenOpensTheServiceAfterTheClientsHello) {
  start();
  expect(kAgentHello);
  EXPECT_EQ(service.openConnections(), 0u) << "nothing is opened before the client speaks";
  send(kClientHello);
  expect(f("ready 0\na0:"));
  EXPECT_EQ(service.openConnections(), 1u);
  EXPECT_EQ(finish(), AgentSession::kClosed);
  EXPECT_EQ(service.openConnections(), 0u);
}

TEST_F(AgentTranscript, StreamsAQueryObjectByObjectWithTheSchemaOnce) {
  handshake();
  send(f("query 1\ns27:Select * From Win32_Service"));
  expect(f("ok 1\n") + kServiceSchema + f("object 1\ni1;a3:s12:cron.services7:Runningi612;") +
         f("object 1\ni1;a3:s3:123nn") + f("end 1\n"));
  send(f("get 2\ns28:Win32_Service='cron.service'"));
  expect(f("object 2\ni1;a3:s12:cron.services7:Runningi612;"));
  EXPECT_EQ(finish(), AgentSession::kClosed);
}

TEST_F(AgentTranscript, CarriesTheServicesErrorsWithNumberDescriptionAndSource) {
  handshake();
  send(f("query 1\ns24:Select * From Win32_Nope"));
  expect(f("error 1\ni-2147217392;s14:Invalid class s15:SWbemServicesEx"));
  service.failures().enumerateAfter = {1, ComError(err::kWbemAccessDenied, "Access denied ", "X")};
  send(f("query 2\ns27:Select * From Win32_Service"));
  expect(f("ok 2\n") + kServiceSchema + f("object 2\ni1;a3:s12:cron.services7:Runningi612;") +
         f("error 2\ni-2147217405;s14:Access denied s1:X"));
  send(f("get 3\ns19:Win32_Service='zzz'"));
  expect(f("error 3\ni-2147217406;s10:Not found s15:SWbemServicesEx"));
  EXPECT_EQ(finish(), AgentSession::kClosed);
}

TEST_F(AgentTranscript, CallsMethodsAndReturnsTheirValueWithItsKind) {
  service.onMethod = [](const std::string&, const std::string& method) {
    if (method == "PauseService") throw ComError(err::kWbemInvalidMethod, "Invalid method ", "S");
    return Value::text("5");
  };
  handshake();
  send(f("call 4\ns28:Win32_Service='cron.service's11:StopService"));
  expect(f("result 4\ns1:5"));
  send(f("call 5\ns28:Win32_Service='cron.service's12:PauseService"));
  expect(f("error 5\ni-2147217362;s15:Invalid method s1:S"));
  finish();
  auto calls = service.calls();
  EXPECT_EQ(calls.at(calls.size() - 2), "method Win32_Service='cron.service' PauseService");
}

TEST_F(AgentTranscript, PushesNotificationsUntilTheSubscriptionIsCancelled) {
  handshake();
  send(f("subscribe 6\ns10:Select 1 2"));
  expect(f("ok 6\n"));
  auto objects = service.objects("Win32_Service");
  service.deliver({"__InstanceModificationEvent", objects[0], objects[1]});
  expect(kServiceSchema + f("event 6\ns27:__InstanceModificationEventi1;a3:s12:cron.services7:"
                            "Runningi612;i1;a3:s3:123nn"));
  service.deliver({"__InstanceModificationEvent", objects[0], ManagementObject()});
  expect(f("event 6\ns27:__InstanceModificationEventi1;a3:s12:cron.services7:Runningi612;i0;a0:"));
  send(f("cancel 7\ni6;"));
  expect(f("ok 7\n"));
  EXPECT_EQ(service.activeSubscriptions(), 0u);
  service.deliver({"__InstanceModificationEvent", objects[0], objects[1]});
  expectNothingMore();
  send(f("cancel 8\ni99;"));
  expect(f("ok 8\n"));
  finish();
}

TEST_F(AgentTranscript, EndsSubscriptionsAndReleasesTheServiceWhenItsInputCloses) {
  handshake();
  send(f("subscribe 1\ns1:q") + f("subscribe 2\ns1:q"));
  expect(f("ok 1\n") + f("ok 2\n"));
  EXPECT_EQ(service.activeSubscriptions(), 2u);
  EXPECT_EQ(finish(), AgentSession::kClosed);
  EXPECT_EQ(service.activeSubscriptions(), 0u);
  EXPECT_EQ(service.openConnections(), 0u);
}

TEST_F(AgentTranscript, ACancelThatArrivesWhileAQueryStreamsEndsIt) {
  auto gate = std::make_shared<Latch>();
  for (int i = 0; i < 5; ++i)
    service.addObject("Win32_Service", {{"Name", Value::text("s" + std::to_string(i))}});
  start([this, gate] { return std::make_unique<GatedConnection>(service.connect(), 1, gate); });
  expect(kAgentHello);
  send(kClientHello);
  expect(f("ready 0\na0:"));
  send(f("query 1\ns27:Select * From Win32_Service"));
  expect(f("ok 1\n") + kServiceSchema + f("object 1\ni1;a3:s12:cron.services7:Runningi612;"));
  // The service is still producing the second object; the client gives up and asks another thing.
  send(f("cancel 2\ni1;") + f("get 3\ns18:Win32_Service='s0'"));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a slow object: the agent looks
  gate->open();
  expect(f("ok 2\n") + f("end 1\n") + f("object 3\ni1;a3:s2:s0nn"));
  EXPECT_EQ(finish(), AgentSession::kClosed);
}

TEST_F(AgentTranscript, BeginsQueriesWaitingBehindAStreamingOneAndSkipsThoseGivenUp) {
  service.addClass("Win32_Process", "Handle", {"Handle"});
  service.addObject("Win32_Process", {{"Handle", Value::text("7")}});
  auto gate = std::make_shared<Latch>();
  start([this, gate] { return std::make_unique<GatedConnection>(service.connect(), 1, gate); });
  expect(kAgentHello);
  // Requests may ride behind the hello; the third reads the first one's class, the fourth
  // gives it up.
  send(kClientHello + f("query 1\ns27:Select * From Win32_Service") +
       f("query 2\ns27:Select * From Win32_Process") +
       f("query 3\ns30:Select Name From Win32_Service") + f("cancel 4\ni3;"));
  expect(f("ready 0\na0:"));
  expect(f("ok 1\n") + kServiceSchema + f("object 1\ni1;a3:s12:cron.services7:Runningi612;"));
  const auto asked = [&](const std::string& wql) {
    return std::count(service.calls().begin(), service.calls().end(), "query " + wql);
  };
  EXPECT_EQ(asked("Select * From Win32_Process"), 1) << "read while the first one waits";
  EXPECT_EQ(asked("Select Name From Win32_Service"), 0);
  gate->open();
  expect(f("object 1\ni1;a3:s3:123nn") + f("end 1\n") + f("ok 2\n") +
         f("schema 0\ni2;s13:Win32_Processs6:Handlea1:s6:Handlea0:") + f("object 2\ni2;a1:s1:7") +
         f("end 2\n") + f("ok 3\n") + f("end 3\n") + f("ok 4\n"));
  EXPECT_EQ(finish(), AgentSession::kClosed);
  EXPECT_EQ(asked("Select Name From Win32_Service"), 0) << "given up before its turn";
}

// What a client may break, and what the agent says before it hangs up.
struct Broken {
  const char* name;
  std::string bytes;
  const char* says;
  AgentSession::Outcome outcome;
};
void PrintTo(const Broken& c, std::ostream* os) {
  *os << c.name;
}

class AgentRefusesBrokenClients : public AgentTranscript,
                                  public ::testing::WithParamInterface<Broken> {};

TEST_P(AgentRefusesBrokenClients, WithAConnectionErrorAndWithoutCrashing) {
  const auto& c = GetParam();
  handshake();
  send(c.bytes);
  std::string reply = readFor(pair.client.get(), 4096, std::chrono::milliseconds(1000));
  EXPECT_NE(reply.find("error 0\n"), std::string::npos) << c.name << ": " << reply;
  EXPECT_NE(reply.find(c.says), std::string::npos) << c.name << ": " << reply;
  if (c.outcome == AgentSession::kProtocolViolation)
    EXPECT_EQ(endOfAgent(), c.outcome) << c.name;
  else
    EXPECT_EQ(finish(), c.outcome) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Transcripts, AgentRefusesBrokenClients,
    ::testing::Values(Broken{"garbage", "GET / HTTP/1.0\r\n\r\n", "not a message length",
                             AgentSession::kProtocolViolation},
                      Broken{"oversized", "99999999\n", "longer than the limit",
                             AgentSession::kProtocolViolation},
                      Broken{"unknown kind", f("launch 1\n"), "unknown message kind 'launch'",
                             AgentSession::kProtocolViolation},
                      Broken{"reply verb from a client", f("object 1\ni0;a0:"),
                             "may not send a object", AgentSession::kProtocolViolation},
                      Broken{"wrong value kind", f("query 1\ni1;"),
                             "value 1 of a query message is integer",
                             AgentSession::kProtocolViolation}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST_F(AgentTranscript, AStreamThatEndsMidMessageIsAViolation) {
  handshake();
  send("40\nquery 1\ns27:Sel");
  ::shutdown(pair.client.get(), SHUT_WR);
  std::string reply = readFor(pair.client.get(), 4096, std::chrono::milliseconds(1000));
  EXPECT_NE(reply.find("ended in the middle of a message"), std::string::npos) << reply;
  EXPECT_EQ(endOfAgent(), AgentSession::kProtocolViolation);
}

TEST_F(AgentTranscript, RefusesAClientWithoutHelloOrOfAnotherVersion) {
  start();
  expect(kAgentHello);
  send(f("query 1\ns1:x"));
  EXPECT_NE(readFor(pair.client.get(), 4096, std::chrono::milliseconds(500)).find("not a hello"),
            std::string::npos);
  EXPECT_EQ(endOfAgent(), AgentSession::kProtocolViolation);
  EXPECT_EQ(service.openConnections(), 0u);
}

TEST_F(AgentTranscript, RefusesAClientOfAnotherProtocolVersion) {
  start();
  expect(kAgentHello);
  send(f("hello 0\ni4;s8:kestravas5:9.0.0"));
  std::string reply = readFor(pair.client.get(), 4096, std::chrono::milliseconds(500));
  EXPECT_NE(reply.find("protocol version 3, the client version 4"), std::string::npos) << reply;
  EXPECT_EQ(endOfAgent(), AgentSession::kProtocolViolation);
}

TEST_F(AgentTranscript, ReportsAServiceThatCannotBeOpened) {
  service.failures().connect = ComError(err::kWbemAccessDenied, "Access denied ", "SWbemLocator");
  start();
  expect(kAgentHello);
  send(kClientHello);
  expect(f("error 0\ni-2147217405;s14:Access denied s12:SWbemLocator"));
  EXPECT_EQ(endOfAgent(), AgentSession::kServiceUnavailable);
}

TEST_F(AgentTranscript, AClientThatLeavesMidStreamEndsTheSessionQuietly) {
  for (int i = 0; i < 2000; ++i)
    service.addObject("Win32_Service",
                      {{"Name", Value::text(std::string(200, 'x') + std::to_string(i))}});
  handshake();
  send(f("query 1\ns27:Select * From Win32_Service"));
  readFor(pair.client.get(), 100);
  pair.client.reset();
  auto result = endOfAgent();
  EXPECT_TRUE(result == AgentSession::kOutputLost || result == AgentSession::kClosed) << result;
  EXPECT_EQ(service.openConnections(), 0u);
}

}  // namespace
}  // namespace kestrava::remote
