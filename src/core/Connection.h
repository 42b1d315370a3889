#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ComError.h"
#include "core/ManagementObject.h"
#include "core/Value.h"

namespace kestrava {

// The seam between the object model (the GUI's SWbem* objects, kestrava-query) and whatever
// answers it: the local management service, the remote agent over SSH, or the scripted
// in-memory service of the tests. The locator picks one implementation per computer name.
//
// Calling conventions, for every implementation:
// - Every method may throw ComError (number, description, source); nothing else escapes.
//   Numbers used: 0x80041010 "Invalid class", 0x80041017 "Invalid query",
//   0x8004103A "Invalid object path", 0x80041002 "Not found", 0x8004102E "Invalid method",
//   0x80041003 "Access denied", 0x800706BA when the far side is gone.
// - Calls are made from one thread (the GUI thread or the tool's main thread) and block until
//   the service has answered; only subscriptions deliver later.
// - Class, property and method names compare without regard to case.

// The objects of one query, delivered one at a time in the service's order. next() blocks for
// the next object and returns nullopt after the last. It may throw part way (the objects already
// returned stay valid); after a throw the stream is finished.
class ObjectStream {
 public:
  virtual ~ObjectStream() = default;
  virtual std::optional<ManagementObject> next() = 0;
};

// Takes the objects of a query as the service produces them (Connection::execQueryInto).
class ObjectSink {
 public:
  virtual ~ObjectSink() = default;
  // The query is valid and runs: execQuery would have returned its stream now.
  virtual void accepted() = 0;
  // One object, in the service's order; false stops the query (the rest is never produced).
  virtual bool object(ManagementObject&& object) = 0;
};

using SubscriptionId = uint64_t;

// One notification: the instance (TargetInstance) and, for a modification, the instance as it
// was at the previous look (PreviousInstance); a deletion's target is the instance as last seen.
struct EventObject {
  std::string className;      // "__InstanceCreationEvent", "__InstanceDeletionEvent", ...
  ManagementObject target;    // TargetInstance: the instance as it is now
  ManagementObject previous;  // PreviousInstance: the instance as it was; none but modifications
};
using EventCallback = std::function<void(const EventObject&)>;

class Connection {
 public:
  virtual ~Connection() = default;

  // Runs a WQL query ("Select * From Win32_Process", "Select Name, State From Win32_Service
  // Where State = 'Running'"). A malformed query or an unknown class throws at once; the objects
  // then come through the stream.
  virtual std::unique_ptr<ObjectStream> execQuery(std::string_view wql) = 0;

  // The same query, its objects pushed to the sink on the caller's thread as they are produced,
  // so that a sink that takes its time (an agent writing to a slow network) slows the service
  // instead of the objects piling up. Throws as execQuery does before accepted(), and part way
  // as a stream's next() does after it. A service that gathers nothing keeps the default.
  virtual void execQueryInto(std::string_view wql, ObjectSink& sink) {
    auto stream = execQuery(wql);
    sink.accepted();
    while (auto object = stream->next())
      if (!sink.object(std::move(*object))) return;
  }

  // Fetches one object by its path (Win32_Service='ssh.service').
  virtual ManagementObject getObject(std::string_view objectPath) = 0;

  // Calls a method without arguments on the object that the path names; returns the method's
  // return value (for the service control methods an integer return code).
  virtual Value execMethod(std::string_view objectPath, std::string_view method) = 0;

  // Subscribes to a notification query ("Select * from __InstanceModificationEvent Within 2.0
  // Where TargetInstance Isa 'Win32_Service'"). Returns at once. The callback may run on any
  // thread, until cancel() of this id has returned; never after.
  virtual SubscriptionId subscribe(std::string_view notificationQuery, EventCallback callback) = 0;

  // Ends one subscription. Unknown ids are ignored.
  virtual void cancel(SubscriptionId id) = 0;

  // Asks to be told, once, when the connection ends for good while it is open (the far side
  // went): the callback gets the error every later call throws, on any thread, at once if it
  // has already ended. A connection that cannot end so (this computer's service) never calls it.
  virtual void onLost(std::function<void(const ComError&)> callback) { (void)callback; }

  // A hint: the caller will run these queries next, in this order, each with execQuery. A service
  // far away may send them all at once, so that their results travel while the caller works; an
  // execQuery of another text, or any other call but a subscription, drops what is left of them.
  // It never throws: a failure shows on the execQuery that takes the query. The default ignores
  // it.
  virtual void readAhead(const std::vector<std::string>& queries) { (void)queries; }

  // The classes this service answers for, each with its key and properties, when it judges a
  // query's validity by them alone (its WQL, its class, its properties), so that a remote client
  // can check a query itself instead of asking. Empty when the service cannot say.
  virtual std::vector<SchemaPtr> classes() { return {}; }
};

// What the caller knows, before a connection is made, that it will ask of it at once.
struct ConnectHints {
  // The queries it runs first, in this order (as Connection::readAhead names them): a service
  // far away may send them with its first message, so their results start with the connection.
  std::vector<std::string> readAhead;
};

// Opens a connection to the named computer; throws ComError when it cannot. The factory hands
// the hints to the connection it makes, which may ignore them.
using ConnectionFactory = std::function<std::unique_ptr<Connection>(const std::string& computer,
                                                                    const ConnectHints& hints)>;

}  // namespace kestrava
