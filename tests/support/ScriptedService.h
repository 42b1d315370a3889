#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/ComError.h"
#include "core/Connection.h"

namespace kestrava::testing {

// An in-memory management service for tests: it holds classes and objects, can be told to fail
// any operation with a chosen error, and records every call in order so tests can assert what
// was sent. One ScriptedService stands for one computer.
class ScriptedService {
 public:
  struct Failures {
    std::optional<ComError> connect, query, get, method, subscribe, cancel;
    // Enumeration fails after this many objects have been delivered.
    std::optional<std::pair<size_t, ComError>> enumerateAfter;
  };

  ScriptedService();
  ~ScriptedService();
  ScriptedService(const ScriptedService&) = delete;
  ScriptedService& operator=(const ScriptedService&) = delete;

  SchemaPtr addClass(const std::string& name, const std::string& key,
                     std::vector<std::string> properties);
  // Adds an instance; properties not given stay null.
  void addObject(const std::string& className,
                 const std::vector<std::pair<std::string, Value>>& values);
  void clearObjects(const std::string& className);
  std::vector<ManagementObject>& objects(const std::string& className);

  Failures& failures() { return failures_; }
  // Its connections name their classes (Connection::classes), as the local service and the
  // agent do; by default they name none.
  void nameClasses();
  // What a method call returns (default: integer 0); may throw ComError.
  std::function<Value(const std::string& path, const std::string& method)> onMethod;

  // Called with each entry as it is logged, before the call is answered (e.g. to look at the
  // screen while the program waits for the service).
  std::function<void(const std::string& call)> onCall;

  // Every call, in order: "connect", "query <wql>", "get <path>", "method <path> <name>",
  // "subscribe <query>", "cancel <id>", "release".
  const std::vector<std::string>& calls() const;
  // How often `call` was logged so far; safe while another thread is calling the service.
  size_t timesCalled(const std::string& call) const;
  void clearCalls();
  size_t activeSubscriptions() const;
  size_t openConnections() const;

  // Sends an event to every active subscription, as the service would on a change.
  void deliver(const EventObject& event);

  std::unique_ptr<Connection> connect();

  struct State;

 private:
  std::shared_ptr<State> state_;
  Failures failures_;
};

// A set of named computers for the locator: connect("name") reaches the service registered
// under that name (names compare exactly); any other name fails as an unreachable computer.
class ScriptedNetwork {
 public:
  void add(const std::string& computer, ScriptedService& service) {
    computers_[computer] = &service;
  }
  ConnectionFactory factory();

 private:
  std::map<std::string, ScriptedService*> computers_;
};

}  // namespace kestrava::testing
