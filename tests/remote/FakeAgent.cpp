// kestrava-fake-agent: stands in for kestrava-agent behind the loopback sshd, misbehaving the way
// KESTRAVA_FAKE_AGENT says: "garbage" prints text instead of the protocol, "old" speaks an older
// protocol version, "dying" serves a query that stops after three objects until it is killed
// (each object's Handle is this program's pid, so a test knows whom to kill), "slow" serves a
// query that works for kSlowQuery before its objects, saying meanwhile that it is still working;
// the modes of FakeAgentModes.h serve kestrava-query's tests and benchmarks.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include "remote/AgentSession.h"
#include "remote/FakeAgentModes.h"
#include "remote/FdIo.h"
#include "remote/MessageCodec.h"

namespace {

using namespace kestrava;

constexpr auto kSlowQuery = std::chrono::seconds(3);

class StallingStream final : public ObjectStream {
 public:
  StallingStream(SchemaPtr schema, bool slow) : schema_(std::move(schema)), slow_(slow) {}
  std::optional<ManagementObject> next() override {
    if (slow_) {
      if (delivered_ == 0) std::this_thread::sleep_for(kSlowQuery);
      if (delivered_ == 3) return std::nullopt;
    }
    if (delivered_++ < 3) {
      ManagementObject object(schema_);
      object.set("Handle", Value::text(std::to_string(::getpid())));
      object.set("Name", Value::text("object " + std::to_string(delivered_)));
      return object;
    }
    std::this_thread::sleep_for(std::chrono::seconds(60));  // until the test kills this agent
    return std::nullopt;
  }

 private:
  SchemaPtr schema_;
  bool slow_;
  int delivered_ = 0;
};

class StallingConnection final : public Connection {
 public:
  explicit StallingConnection(bool slow) : slow_(slow) {}
  std::unique_ptr<ObjectStream> execQuery(std::string_view) override {
    return std::make_unique<StallingStream>(schema_, slow_);
  }
  ManagementObject getObject(std::string_view) override { return ManagementObject(schema_); }
  Value execMethod(std::string_view, std::string_view) override { return Value::integer(0); }
  SubscriptionId subscribe(std::string_view, EventCallback) override { return 1; }
  void cancel(SubscriptionId) override {}

 private:
  bool slow_;
  SchemaPtr schema_ = std::make_shared<const ClassSchema>(
      "Win32_Process", "Handle", std::vector<std::string>{"Handle", "Name"});
};

void waitForEndOfInput() {
  char buffer[4096];
  while (remote::readSome(STDIN_FILENO, buffer, sizeof buffer) > 0) {
  }
}

}  // namespace

int main() {
  ::signal(SIGPIPE, SIG_IGN);
  const char* mode = std::getenv("KESTRAVA_FAKE_AGENT");
  std::string m = mode ? mode : "";
  if (m == "garbage") {
    std::cout << "Welcome to the far side!\nLast login: yesterday\n" << std::flush;
    waitForEndOfInput();
    return 0;
  }
  if (m == "old") {
    remote::writeAll(
        STDOUT_FILENO,
        remote::frame(remote::encodePayload(
            {remote::Verb::Hello,
             0,
             {Value::integer(0), Value::text("kestrava-agent"), Value::text("0.0.1")}})));
    waitForEndOfInput();
    return 0;
  }
  if (m == "dying" || m == "slow") {
    const bool slow = m == "slow";
    remote::AgentSession session(
        STDIN_FILENO, STDOUT_FILENO, [slow] { return std::make_unique<StallingConnection>(slow); },
        std::chrono::milliseconds(200));
    return session.run();
  }
  if (remote::testing::openFakeService(m)) {
    remote::AgentSession session(STDIN_FILENO, STDOUT_FILENO,
                                 [m] { return remote::testing::openFakeService(m); });
    return session.run();
  }
  std::cerr << "kestrava-fake-agent: KESTRAVA_FAKE_AGENT is not a known mode\n";
  return 3;
}
