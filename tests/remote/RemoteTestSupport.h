#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/Connection.h"
#include "remote/AgentSession.h"
#include "remote/Transport.h"
#include "sys/UniqueFd.h"

namespace kestrava::remote::testing {

// A connected socket pair: one end for the client under test, one for whatever plays the agent.
struct SocketPair {
  SocketPair();
  sys::UniqueFd client;
  sys::UniqueFd agent;
};

// A transport over one socket, with no carrier process: its end is described plainly.
class SocketTransport final : public Transport {
 public:
  explicit SocketTransport(sys::UniqueFd fd) : fd_(std::move(fd)) {}
  int inputFd() const override { return fd_.get(); }
  int outputFd() const override { return fd_.get(); }
  ComError endedBeforeHello(const std::string&) override {
    return ComError(err::kRpcServerUnavailable, "the test agent closed its end ", "SWbemLocator");
  }
  std::string endReason(const std::string&) override { return "the test agent closed its end"; }

 private:
  sys::UniqueFd fd_;
};

// An AgentSession on its own thread, serving a connection that the opener makes; the far end of
// its socket is handed to a RemoteConnection through transport().
class InProcessAgent {
 public:
  explicit InProcessAgent(AgentSession::Opener open);
  ~InProcessAgent();
  std::unique_ptr<Transport> transport();
  // Cuts the agent's end off, as a killed agent would.
  void kill();
  AgentSession::Outcome outcome();

 private:
  SocketPair pair_;
  std::thread thread_;
  AgentSession::Outcome outcome_ = AgentSession::kClosed;
};

// Waits, bounded, for a condition that another thread makes true.
class Latch {
 public:
  void open() {
    {
      std::lock_guard lock(mutex_);
      open_ = true;
    }
    cv_.notify_all();
  }
  bool wait(std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, limit, [this] { return open_; });
  }
  bool isOpen() {
    std::lock_guard lock(mutex_);
    return open_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool open_ = false;
};

// Passes every call on to another connection; a double overrides what it changes.
class ForwardingConnection : public Connection {
 public:
  explicit ForwardingConnection(std::unique_ptr<Connection> inner) : inner_(std::move(inner)) {}
  std::unique_ptr<ObjectStream> execQuery(std::string_view wql) override {
    return inner_->execQuery(wql);
  }
  ManagementObject getObject(std::string_view path) override { return inner_->getObject(path); }
  Value execMethod(std::string_view path, std::string_view method) override {
    return inner_->execMethod(path, method);
  }
  SubscriptionId subscribe(std::string_view q, EventCallback cb) override {
    return inner_->subscribe(q, std::move(cb));
  }
  void cancel(SubscriptionId id) override { inner_->cancel(id); }

 protected:
  std::unique_ptr<Connection> inner_;
};

// A connection whose query results stop after `before` objects until the gate opens: the way to
// see that objects travel while the service is still producing the rest.
class GatedConnection final : public ForwardingConnection {
 public:
  GatedConnection(std::unique_ptr<Connection> inner, size_t before, std::shared_ptr<Latch> gate)
      : ForwardingConnection(std::move(inner)), before_(before), gate_(std::move(gate)) {}
  std::unique_ptr<ObjectStream> execQuery(std::string_view wql) override;

 private:
  size_t before_;
  std::shared_ptr<Latch> gate_;
};

// A service that names its classes, as the local service does: a client then judges queries and
// subscriptions by them itself instead of asking.
class NamingClasses final : public ForwardingConnection {
 public:
  NamingClasses(std::unique_ptr<Connection> inner, std::vector<SchemaPtr> classes)
      : ForwardingConnection(std::move(inner)), classes_(std::move(classes)) {}
  std::vector<SchemaPtr> classes() override { return classes_; }

 private:
  std::vector<SchemaPtr> classes_;
};

// Reads what the peer wrote until `expected` bytes arrived or a second passed.
std::string readFor(int fd, size_t expected,
                    std::chrono::milliseconds limit = std::chrono::seconds(2));
// Reads until the peer closes (bounded).
std::string readToEnd(int fd, std::chrono::milliseconds limit = std::chrono::seconds(2));
void writeBytes(int fd, const std::string& bytes);

// Whether a process id is still there (a zombie counts as there).
bool processExists(int pid);
// The number of open file descriptors of this process.
int openDescriptors();

}  // namespace kestrava::remote::testing
