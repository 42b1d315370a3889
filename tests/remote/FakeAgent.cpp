// kestrava-fake-agent: stands in for kestrava-agent behind the loopback sshd, misbehaving the way
// KESTRAVA_FAKE_AGENT says: "garbage" prints text instead of the protocol, "old" speaks an older
// protocol version, "dying" serves a query that stops after three objects until it is killed
// (each object's Handle is this program's pid, so a test knows whom to kill); the modes of
// FakeAgentModes.h serve kestrava-query's tests and benchmarks.
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

class StallingStream final : public ObjectStream {
 public:
  explicit StallingStream(SchemaPtr schema) : schema_(std::move(schema)) {}
  std::optional<ManagementObject> next() override {
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
  int delivered_ = 0;
};

class StallingConnection final : public Connection {
 public:
  std::unique_ptr<ObjectStream> execQuery(std::string_view) override {
    return std::make_unique<StallingStream>(schema_);
  }
  ManagementObject getObject(std::string_view) override { return ManagementObject(schema_); }
  Value execMethod(std::string_view, std::string_view) override { return Value::integer(0); }
  SubscriptionId subscribe(std::string_view, EventCallback) override { return 1; }
  void cancel(SubscriptionId) override {}

 private:
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
  if (m == "dying") {
    remote::AgentSession session(STDIN_FILENO, STDOUT_FILENO,
                                 [] { return std::make_unique<StallingConnection>(); });
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
