#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>

#include "core/Connection.h"
#include "remote/FrameDecoder.h"
#include "remote/Message.h"
#include "remote/RemoteLimits.h"
#include "remote/SchemaTable.h"
#include "remote/Transport.h"
#include "sys/UniqueFd.h"

namespace kestrava::remote {

// The client's side of one connection to an agent. A reader thread reads every frame: replies go
// to the request that waits for them, notifications to their callbacks, while calls go on. Query
// results keep arriving into their request's queue, so the first objects are returned before
// the last are read, but only so many: while a request holds kMaxQueuedReplies replies or
// kMaxQueuedBytes of them, the reader takes in nothing more, so a slow consumer slows the agent
// instead of filling memory. It reads on regardless when a caller waits for a reply that lies
// behind them (the agent answers in order). Once the stream ends or breaks, every waiting and later
// call fails with one error that names the computer; objects already delivered stay valid. A call
// that hears nothing at all from the far side within the silence limit gives the connection up the
// same way.
class ClientSession : public std::enable_shared_from_this<ClientSession> {
 public:
  static constexpr size_t kMaxQueuedReplies = 1024;
  static constexpr size_t kMaxQueuedBytes = 4 * 1024 * 1024;

  ClientSession(std::unique_ptr<Transport> transport, std::string computer,
                RemoteLimits limits = {});
  ~ClientSession();
  ClientSession(const ClientSession&) = delete;
  ClientSession& operator=(const ClientSession&) = delete;

  // Starts the reader, exchanges hellos and waits for the agent to be ready, at most the
  // handshake limit. Throws the connect error (source SWbemLocator); the session is then closed.
  // The queries of readAhead go right behind the hello (see readAhead()): the agent answers them
  // once it is ready, so they cost no round trip of their own.
  void start(const std::vector<std::string>& readAhead = {});
  // Stops the reader and ends the transport (its process is reaped). Idempotent. With abandon the
  // transport is killed at once instead of being asked to end.
  void close(bool abandon = false);

  std::unique_ptr<ObjectStream> query(std::string_view wql);
  // Sends these queries at once; the next query() calls of the same texts, in this order, take
  // their results instead of asking. Any other call but a subscription drops what is left.
  void readAhead(const std::vector<std::string>& queries);
  ManagementObject get(std::string_view path);
  Value call(std::string_view path, std::string_view method);
  SubscriptionId subscribe(std::string_view query, EventCallback callback);
  void cancel(SubscriptionId id);
  // Called once when the stream ends or breaks after the agent was ready (not on close()).
  void onLost(std::function<void(const ComError&)> callback);
  int processId() const;
  // The far side's classes, as its agent named them with its ready (empty when it did not).
  const std::vector<SchemaPtr>& classes() const { return classes_; }
  // The longest chain of requests each sent after the reply of the one before it had been taken:
  // the round trips the connection has cost its callers so far, the handshake's included.
  uint64_t roundTrips() const;

  struct Reply {
    Verb verb = Verb::End;
    ManagementObject object;
    Value value;
    std::optional<ComError> error;
    size_t bytes = 0;  // its message's size
  };
  struct Request {
    std::string what;  // the request in an error's words: "the query \"Select ...\""
    std::chrono::steady_clock::time_point sent;
    uint64_t round = 0;  // the round trip it travels in (roundTrips())
    std::deque<Reply> replies;
    size_t queuedBytes = 0;
    bool full() const {
      return replies.size() >= kMaxQueuedReplies || queuedBytes >= kMaxQueuedBytes;
    }
  };

  // For streams: the next reply of a request, waiting for it; throws when the connection ended
  // first. finish() forgets a request; abandon() also asks the agent to stop streaming it.
  Reply next(const std::shared_ptr<Request>& request);
  void finish(uint64_t id);
  void abandon(uint64_t id);
  [[noreturn]] void violation(const std::string& detail);

 private:
  void readLoop();
  bool readInput();
  void drainDiagnostics(std::chrono::milliseconds limit);
  void readDiagnostics();
  void dispatch(const Message& message, size_t bytes);
  bool mustPause() const;
  void resumeReader();
  void deliver(const Message& event);
  void ended(bool midFrame);
  bool isReady() const;
  void setFailure(ComError error);
  void tellLost();
  std::pair<uint64_t, std::shared_ptr<Request>> open(std::string what);
  void send(const Message& message, const std::string& what);
  [[noreturn]] void giveUp(ComError error);
  void stopReader();
  void checkCaller() const;
  bool judgeQuery(std::string_view wql) const;
  void sendAhead(const std::vector<std::string>& queries);
  std::unique_ptr<ObjectStream> takeReadAhead(std::string_view wql);
  void dropReadAhead();
  bool judgeSubscription(std::string_view query) const;
  const SchemaPtr& classNamed(std::string_view name) const;
  bool onReader() const { return std::this_thread::get_id() == readerId_.load(); }

  const std::string computer_;
  const RemoteLimits limits_;
  std::unique_ptr<Transport> transport_;
  sys::UniqueFd wakeRead_, wakeWrite_;      // the reader is to stop
  sys::UniqueFd resumeRead_, resumeWrite_;  // the reader is to look again whether it may read
  std::mutex readerMutex_;                  // guards reader_'s end
  std::thread reader_;
  std::atomic<std::thread::id> readerId_;

  // Owned by the reader thread.
  FrameDecoder decoder_;
  SchemaTable schemas_;
  std::string diagnostics_;
  bool helloSeen_ = false;

  mutable std::mutex mutex_;  // guards everything below it
  std::condition_variable changed_;
  bool ready_ = false;
  bool closed_ = false;
  std::optional<ComError> failure_;
  std::chrono::steady_clock::time_point lastHeard_;  // the far side's last bytes
  bool paused_ = false;                              // the reader takes nothing in
  uint64_t rounds_ = 0;                              // see roundTrips()
  std::vector<SchemaPtr> classes_;                   // written once, before ready_

  // Queries sent ahead of their callers, oldest first; the callers' thread's.
  struct AheadOfCaller {
    std::string wql;
    uint64_t id;
    std::shared_ptr<Request> request;
  };
  std::deque<AheadOfCaller> readAhead_;
  size_t starving_ = 0;  // callers waiting for a request with no reply queued
  std::unordered_map<uint64_t, std::shared_ptr<Request>> requests_;

  std::mutex writeMutex_;
  std::atomic<uint64_t> nextId_{1};

  // A callback runs with this held, so cancel() returns only when none is running or will run.
  std::recursive_mutex callbacksMutex_;
  std::map<SubscriptionId, EventCallback> callbacks_;
  std::function<void(const ComError&)> lost_;
};

}  // namespace kestrava::remote
