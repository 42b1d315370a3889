#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Connection.h"
#include "remote/FrameDecoder.h"
#include "remote/FrameWriter.h"
#include "remote/Message.h"

namespace kestrava::remote {

// The agent's side of one remote connection: says hello, opens the management service after the
// client's hello, then answers requests one at a time from inFd, writing replies and
// notifications to outFd. Query results are streamed object by object as the service yields
// them; a cancel that arrives while a query streams ends it early. Queries that wait behind the
// one being answered, with nothing else before them, are begun at once, so the service reads
// them meanwhile; their results are still written in turn.
class AgentSession {
 public:
  using Opener = std::function<std::unique_ptr<Connection>()>;

  AgentSession(int inFd, int outFd, Opener open,
               std::chrono::milliseconds busyInterval = FrameWriter::kBusyInterval);
  ~AgentSession();
  AgentSession(const AgentSession&) = delete;
  AgentSession& operator=(const AgentSession&) = delete;

  enum Outcome {
    kClosed = 0,
    kServiceUnavailable = 1,
    kProtocolViolation = 2,
    kOutputLost = 3,
    kFailed = 4,  // the agent itself failed (out of memory)
  };
  // Serves until the client's stream ends; never throws.
  Outcome run();

 private:
  class QueryWriter;

  Outcome serve();
  std::optional<Message> receive();
  bool fill(bool wait);
  Outcome handshake();
  void handle(const Message& request);
  void streamQuery(uint64_t id, const std::string& wql);
  void takeInArrived();
  void beginWaitingQueries();
  bool cancelQueued(uint64_t queryId) const;
  bool cancelRequested(uint64_t queryId);
  void subscribe(uint64_t id, const std::string& query);
  void cancel(uint64_t id, uint64_t target);
  void fail(uint64_t id, const ComError& error);
  void endSubscriptions();

  int inFd_;
  FrameWriter out_;
  Opener open_;
  FrameDecoder in_;
  std::deque<Message> pending_;  // requests read while a query was streaming
  bool inputEnded_ = false;
  std::unique_ptr<Connection> connection_;
  std::map<uint64_t, SubscriptionId> subscriptions_;  // client's id -> service's id

  // A query begun before its turn: its stream, or the service's refusal.
  struct Begun {
    std::string className;
    std::unique_ptr<ObjectStream> stream;
    std::optional<ComError> refusal;
  };
  std::map<uint64_t, Begun> begun_;  // by the client's id
  std::string answering_;            // the class of the query being streamed
};

}  // namespace kestrava::remote
