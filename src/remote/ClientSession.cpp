#include "remote/ClientSession.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "remote/ConnectErrors.h"
#include "remote/FdIo.h"
#include "remote/MessageCodec.h"
#include "remote/ProtocolError.h"
#include "service/QueryPlan.h"
#include "service/ServiceErrors.h"
#include "service/WqlParser.h"

namespace kestrava::remote {

namespace {

constexpr size_t kReadSize = 64 * 1024;
constexpr size_t kDiagnosticsKept = 16 * 1024;
// After the agent's stream ends, ssh's last words may still be on their way.
constexpr auto kDiagnosticsWait = std::chrono::milliseconds(3000);

// A query's objects as they arrive. When the query was sent without waiting for the agent to
// accept it, its first reply is the acceptance (or the refusal, thrown by the first next()).
class RemoteStream final : public ObjectStream {
 public:
  RemoteStream(std::shared_ptr<ClientSession> session, uint64_t id,
               std::shared_ptr<ClientSession::Request> request, bool awaitingOk)
      : session_(std::move(session)),
        id_(id),
        request_(std::move(request)),
        awaitingOk_(awaitingOk) {}
  ~RemoteStream() override {
    if (!finished_) session_->abandon(id_);
  }

  std::optional<ManagementObject> next() override {
    if (finished_) return std::nullopt;
    ClientSession::Reply reply;
    try {
      reply = session_->next(request_);
    } catch (const ComError&) {
      finish();
      throw;
    }
    if (awaitingOk_ && reply.verb == Verb::Ok) {
      awaitingOk_ = false;
      return next();
    }
    awaitingOk_ = false;
    switch (reply.verb) {
      case Verb::Object:
        return std::move(reply.object);
      case Verb::End:
        finish();
        return std::nullopt;
      case Verb::Error:
        finish();
        throw *reply.error;
      default:
        finish();
        session_->violation(std::string("a query was answered with ") + verbName(reply.verb));
    }
  }

 private:
  void finish() {
    finished_ = true;
    session_->finish(id_);
  }

  std::shared_ptr<ClientSession> session_;
  uint64_t id_;
  std::shared_ptr<ClientSession::Request> request_;
  bool awaitingOk_;
  bool finished_ = false;
};

Message hello() {
  return Message{
      Verb::Hello,
      0,
      {Value::integer(kProtocolVersion), Value::text("kestrava"), Value::text(KESTRAVA_VERSION)}};
}

ComError errorOf(const Message& m) {
  return ComError(static_cast<int32_t>(m.body[0].asInteger()), m.body[1].asText(),
                  m.body[2].asText());
}

}  // namespace

ClientSession::ClientSession(std::unique_ptr<Transport> transport, std::string computer,
                             RemoteLimits limits)
    : computer_(std::move(computer)), limits_(limits), transport_(std::move(transport)) {
  int wake[2], resume[2];
  if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0)
    throw ComError(err::kWbemFailed, "Kestrava could not create a pipe ", "SWbemLocator");
  wakeRead_.reset(wake[0]);
  wakeWrite_.reset(wake[1]);
  if (::pipe2(resume, O_CLOEXEC | O_NONBLOCK) != 0)
    throw ComError(err::kWbemFailed, "Kestrava could not create a pipe ", "SWbemLocator");
  resumeRead_.reset(resume[0]);
  resumeWrite_.reset(resume[1]);
}

ClientSession::~ClientSession() {
  close();
}

void ClientSession::start(const std::vector<std::string>& readAhead) {
  reader_ = std::thread([this] {
    readerId_ = std::this_thread::get_id();
    try {
      readLoop();
    } catch (const std::exception& e) {
      // Out of memory, most likely: the connection ends with an error instead of the program.
      try {
        setFailure(isReady() ? messageNotHandled(computer_, e.what())
                             : agentEndedEarly(computer_, std::string("Kestrava could not take "
                                                                      "in its messages (") +
                                                              e.what() + ")"));
      } catch (const std::exception&) {
        std::lock_guard lock(mutex_);
        failure_.emplace(err::kRpcServerUnavailable, "", "SWbemServicesEx");
      }
      changed_.notify_all();
    }
  });
  try {
    send(hello(), "the hello");
    sendAhead(readAhead);
  } catch (const ComError&) {
    // The reader is finding out why the far side went; its verdict is what the user sees.
  }
  std::unique_lock lock(mutex_);
  if (!changed_.wait_for(lock, limits_.handshake,
                         [this] { return ready_ || failure_.has_value(); }))
    failure_ = handshakeTimedOut(computer_, limits_.handshake);
  if (failure_) {
    ComError error = *failure_;
    lock.unlock();
    close(true);
    throw error;
  }
}

void ClientSession::close(bool abandon) {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    closed_ = true;
  }
  changed_.notify_all();
  stopReader();
  {
    std::lock_guard lock(callbacksMutex_);
    callbacks_.clear();
    lost_ = nullptr;
  }
  std::lock_guard lock(writeMutex_);
  if (abandon && transport_) transport_->abandon();
  transport_.reset();
}

void ClientSession::stopReader() {
  if (onReader()) return;
  std::lock_guard lock(readerMutex_);
  if (!reader_.joinable()) return;
  char byte = 0;
  [[maybe_unused]] auto n = ::write(wakeWrite_.get(), &byte, 1);
  reader_.join();
}

// The far side is taken for dead: every waiting and later call fails with this error, and the
// carrier is ended at once rather than when the connection is released.
void ClientSession::giveUp(ComError error) {
  setFailure(std::move(error));
  stopReader();
  {
    std::lock_guard lock(writeMutex_);
    if (transport_ && !onReader()) transport_->abandon();
  }
  std::lock_guard lock(mutex_);
  throw *failure_;
}

int ClientSession::processId() const {
  return transport_ ? transport_->processId() : -1;
}

void ClientSession::setFailure(ComError error) {
  bool lost = false;
  {
    std::lock_guard lock(mutex_);
    if (!failure_) {
      failure_ = std::move(error);
      lost = ready_ && !closed_;
    }
  }
  changed_.notify_all();
  if (lost) tellLost();
}

// Once: the first of setFailure and onLost to find both the failure and the callback calls it.
void ClientSession::tellLost() {
  std::function<void(const ComError&)> callback;
  {
    std::lock_guard lock(callbacksMutex_);
    callback = std::exchange(lost_, nullptr);
  }
  if (!callback) return;
  std::optional<ComError> failure;
  {
    std::lock_guard lock(mutex_);
    failure = failure_;
  }
  callback(*failure);
}

void ClientSession::onLost(std::function<void(const ComError&)> callback) {
  {
    std::lock_guard lock(callbacksMutex_);
    lost_ = std::move(callback);
  }
  bool lost;
  {
    std::lock_guard lock(mutex_);
    lost = failure_ && ready_ && !closed_;
  }
  if (lost) tellLost();  // it broke before the callback was there
}

void ClientSession::violation(const std::string& detail) {
  setFailure(connectionLost(computer_, "the agent broke the protocol (" + detail + ")"));
  std::lock_guard lock(mutex_);
  throw *failure_;
}

// ---- reader thread ----

void ClientSession::readLoop() {
  pollfd fds[4] = {{wakeRead_.get(), POLLIN, 0},
                   {resumeRead_.get(), POLLIN, 0},
                   {transport_->inputFd(), POLLIN, 0},
                   {transport_->diagnosticsFd(), POLLIN, 0}};
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      paused_ = mustPause();
      fds[2].fd = paused_ ? -1 : transport_->inputFd();
    }
    if (::poll(fds, 4, -1) < 0) {
      if (errno == EINTR) continue;
      setFailure(connectionLost(computer_, "waiting for the agent failed"));
      return;
    }
    if (fds[0].revents) return;
    if (fds[1].revents) {
      char bytes[64];
      while (readSome(resumeRead_.get(), bytes, sizeof bytes) > 0) {
      }
    }
    if (fds[3].revents) {
      readDiagnostics();
      if (fds[3].revents & (POLLHUP | POLLERR | POLLNVAL)) fds[3].fd = -1;
    }
    if (fds[2].fd >= 0 && fds[2].revents && !readInput()) return;
  }
}

// Whether the reader is to take nothing in for now: some request holds all the replies it may,
// and no caller waits for one that could lie behind them. With mutex_ held.
bool ClientSession::mustPause() const {
  if (starving_ > 0) return false;
  for (const auto& [id, request] : requests_)
    if (request->full()) return true;
  return false;
}

void ClientSession::resumeReader() {
  char byte = 0;
  [[maybe_unused]] auto n = ::write(resumeWrite_.get(), &byte, 1);
}

// One read of the agent's stream, handled frame by frame; false when the stream is over.
bool ClientSession::readInput() {
  char buffer[kReadSize];
  ssize_t n = readSome(transport_->inputFd(), buffer, sizeof buffer);
  if (n <= 0) {
    ended(decoder_.midFrame());
    return false;
  }
  {
    std::lock_guard lock(mutex_);
    lastHeard_ = std::chrono::steady_clock::now();
  }
  try {
    decoder_.feed(std::string_view(buffer, static_cast<size_t>(n)));
    while (auto payload = decoder_.next()) {
      dispatch(decodePayload(*payload), payload->size());
      std::lock_guard lock(mutex_);
      if (failure_) return false;
    }
    changed_.notify_all();
  } catch (const ProtocolError& e) {
    if (!isReady()) {
      setFailure(agentTalksGarbage(computer_, decoder_.firstBytes(), e.detail()));
    } else {
      setFailure(
          connectionLost(computer_, "the agent sent a malformed message (" + e.detail() + ")"));
    }
    return false;
  }
  return true;
}

void ClientSession::readDiagnostics() {
  char buffer[4096];
  ssize_t n = readSome(transport_->diagnosticsFd(), buffer, sizeof buffer);
  if (n > 0 && diagnostics_.size() < kDiagnosticsKept)
    diagnostics_.append(buffer,
                        std::min(static_cast<size_t>(n), kDiagnosticsKept - diagnostics_.size()));
}

void ClientSession::drainDiagnostics(std::chrono::milliseconds limit) {
  int fd = transport_->diagnosticsFd();
  if (fd < 0) return;
  auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    pollfd fds[2] = {{wakeRead_.get(), POLLIN, 0}, {fd, POLLIN, 0}};
    int r = ::poll(fds, 2, static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0 || fds[0].revents) return;
    char buffer[4096];
    ssize_t n = readSome(fd, buffer, sizeof buffer);
    if (n <= 0) return;
    if (diagnostics_.size() < kDiagnosticsKept)
      diagnostics_.append(buffer,
                          std::min(static_cast<size_t>(n), kDiagnosticsKept - diagnostics_.size()));
  }
}

void ClientSession::ended(bool midFrame) {
  drainDiagnostics(kDiagnosticsWait);
  if (!helloSeen_ && !decoder_.firstBytes().empty()) {
    setFailure(agentTalksGarbage(computer_, decoder_.firstBytes(),
                                 "its output ended before a whole message"));
  } else if (!helloSeen_) {
    setFailure(transport_->endedBeforeHello(diagnostics_));
  } else {
    std::string reason = transport_->endReason(diagnostics_);
    if (midFrame) reason = "the stream ended in the middle of a message; " + reason;
    setFailure(isReady() ? connectionLost(computer_, reason) : agentEndedEarly(computer_, reason));
  }
}

bool ClientSession::isReady() const {
  std::lock_guard lock(mutex_);
  return ready_;
}

void ClientSession::dispatch(const Message& m, size_t bytes) {
  bool ready;
  {
    std::lock_guard lock(mutex_);
    ready = ready_;
  }
  switch (m.verb) {
    case Verb::Hello:
      if (helloSeen_) throw ProtocolError("a second hello");
      helloSeen_ = true;
      if (m.body[0].asInteger() != kProtocolVersion)
        setFailure(versionMismatch(computer_, m.body[0].asInteger(), m.body[2].asText()));
      return;
    case Verb::Ready:
      if (!helloSeen_ || ready) throw ProtocolError("a ready out of turn");
      for (const auto& number : m.body[0].asArray()) {
        if (number.kind() != Value::Kind::Integer)
          throw ProtocolError("a class of the ready is not a schema number");
        classes_.push_back(schemas_.schema(number.asInteger()));
      }
      {
        std::lock_guard lock(mutex_);
        ready_ = true;
        rounds_ = 1;
      }
      changed_.notify_all();
      return;
    case Verb::Schema:
      if (!helloSeen_) throw ProtocolError("a schema before the hello");
      schemas_.define(m);
      return;
    case Verb::Error:
      if (m.id == 0) {
        if (!helloSeen_) throw ProtocolError("an error before the hello");
        setFailure(ready ? connectionLost(computer_, "the agent reported: " + m.body[1].asText())
                         : agentRefused(computer_, errorOf(m)));
        return;
      }
      break;
    case Verb::Event:
      if (!ready) throw ProtocolError("an event before the agent was ready");
      deliver(m);
      return;
    case Verb::Busy:
      // Its arrival is all it says: the reader has noted that the far side is alive.
      if (!ready) throw ProtocolError("a busy before the agent was ready");
      return;
    case Verb::Ok:
    case Verb::Object:
    case Verb::End:
    case Verb::Result:
      break;
    default:
      throw ProtocolError(std::string("an agent may not send a ") + verbName(m.verb) + " message");
  }
  if (!ready)
    throw ProtocolError(std::string("a ") + verbName(m.verb) + " before the agent was ready");
  Reply reply;
  reply.verb = m.verb;
  if (m.verb == Verb::Object) reply.object = schemas_.object(m.body[0], m.body[1]);
  if (m.verb == Verb::Result) reply.value = m.body[0];
  if (m.verb == Verb::Error) reply.error = errorOf(m);
  reply.bytes = bytes;
  // Waiters are woken once per read (readInput), not once per object.
  std::lock_guard lock(mutex_);
  auto it = requests_.find(m.id);
  if (it == requests_.end()) return;  // a request its caller gave up on
  it->second->queuedBytes += bytes;
  it->second->replies.push_back(std::move(reply));
}

void ClientSession::deliver(const Message& m) {
  EventObject event{m.body[0].asText(), schemas_.object(m.body[1], m.body[2]),
                    schemas_.object(m.body[3], m.body[4])};
  std::lock_guard lock(callbacksMutex_);
  auto it = callbacks_.find(m.id);
  if (it == callbacks_.end()) return;
  EventCallback callback = it->second;  // a copy: the callback may cancel itself
  try {
    callback(event);
  } catch (...) {
    // A failing handler must not stop the notifications of the others.
  }
}

// ---- callers' side ----

void ClientSession::checkCaller() const {
  if (onReader())
    throw ComError(err::kWbemFailed,
                   "A notification handler cannot call the management service of " +
                       displayName(computer_) + " ",
                   "SWbemServicesEx");
}

std::pair<uint64_t, std::shared_ptr<ClientSession::Request>> ClientSession::open(std::string what) {
  checkCaller();
  auto id = nextId_++;
  auto request = std::make_shared<Request>();
  request->what = std::move(what);
  request->sent = std::chrono::steady_clock::now();
  std::lock_guard lock(mutex_);
  request->round = rounds_ + 1;
  if (closed_) throw connectionReleased(computer_);
  if (failure_) throw *failure_;
  requests_.emplace(id, request);
  return {id, request};
}

void ClientSession::send(const Message& message, const std::string& what) {
  auto framed = frame(encodePayload(message));
  auto result = WriteResult::kFailed;
  {
    std::lock_guard lock(writeMutex_);
    if (transport_)
      result = writeAllBefore(transport_->outputFd(), framed,
                              std::chrono::steady_clock::now() + limits_.silence);
  }
  if (result == WriteResult::kWritten) return;
  if (result == WriteResult::kTimedOut) giveUp(requestNotTakenIn(computer_, what, limits_.silence));
  if (onReader()) {
    setFailure(connectionLost(computer_, "writing to the agent failed"));
    std::lock_guard lock(mutex_);
    throw *failure_;
  }
  // The reader is about to learn why the far side went; wait for its verdict a little.
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, kDiagnosticsWait + std::chrono::milliseconds(500),
                    [this] { return failure_.has_value() || closed_; });
  if (closed_ && !failure_) throw connectionReleased(computer_);
  if (!failure_) failure_ = connectionLost(computer_, "writing to the agent failed");
  throw *failure_;
}

ClientSession::Reply ClientSession::next(const std::shared_ptr<Request>& request) {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (!request->replies.empty()) {
      const bool wasFull = request->full();
      Reply reply = std::move(request->replies.front());
      request->replies.pop_front();
      request->queuedBytes -= reply.bytes;
      if (wasFull && paused_) resumeReader();
      rounds_ = std::max(rounds_, request->round);
      return reply;
    }
    if (failure_) throw *failure_;
    if (closed_) throw connectionReleased(computer_);
    // Silence counts from the later of the request and the far side's last bytes.
    auto deadline = std::max(request->sent, lastHeard_) + limits_.silence;
    if (std::chrono::steady_clock::now() >= deadline) break;
    ++starving_;
    if (paused_) resumeReader();
    changed_.wait_until(lock, deadline);
    --starving_;
  }
  lock.unlock();
  giveUp(noAnswer(computer_, request->what, limits_.silence));
}

void ClientSession::finish(uint64_t id) {
  std::lock_guard lock(mutex_);
  requests_.erase(id);
  if (paused_) resumeReader();
}

void ClientSession::abandon(uint64_t id) {
  finish(id);
  {
    std::lock_guard lock(mutex_);
    if (closed_ || failure_) return;
  }
  try {
    send(Message{Verb::Cancel, nextId_++, {Value::integer(static_cast<int64_t>(id))}}, "a cancel");
  } catch (const ComError&) {
    // A connection that is gone streams nothing more anyway.
  }
}

uint64_t ClientSession::roundTrips() const {
  std::lock_guard lock(mutex_);
  return rounds_;
}

const SchemaPtr& ClientSession::classNamed(std::string_view name) const {
  for (const auto& schema : classes_)
    if (equalsIgnoreCase(schema->className(), name)) return schema;
  throw service::invalidClass(name);
}

// Judges a query as the far side's service would before it runs it (its WQL, its class, its
// properties) and throws what that would throw; false when the agent named no classes to judge
// by, so the far side has to be asked.
bool ClientSession::judgeQuery(std::string_view wql) const {
  if (classes_.empty()) return false;
  const service::SelectQuery query = service::WqlParser::parseSelect(wql);
  service::QueryPlan plan(query, classNamed(query.className));
  return true;
}

bool ClientSession::judgeSubscription(std::string_view query) const {
  if (classes_.empty()) return false;
  const service::NotificationQuery parsed = service::WqlParser::parseNotification(query);
  const SchemaPtr& schema = classNamed(parsed.targetClass);
  if (parsed.condition) service::QueryFilter condition(*parsed.condition, *schema);
  return true;
}

void ClientSession::readAhead(const std::vector<std::string>& queries) {
  dropReadAhead();
  try {
    sendAhead(queries);
  } catch (const ComError&) {
    // The call that takes the query reports the failure.
  }
}

// Sends the queries unjudged (before the ready there are no classes to judge them by); the call
// that takes one judges it then.
void ClientSession::sendAhead(const std::vector<std::string>& queries) {
  for (const auto& wql : queries) {
    auto [id, request] = open("the query " + displayName(wql));
    readAhead_.push_back({wql, id, request});
    send(Message{Verb::Query, id, {Value::text(wql)}}, request->what);
  }
}

// The stream of a query sent ahead, when it is the next one sent; null otherwise.
std::unique_ptr<ObjectStream> ClientSession::takeReadAhead(std::string_view wql) {
  if (readAhead_.empty() || readAhead_.front().wql != wql) return nullptr;
  AheadOfCaller taken = std::move(readAhead_.front());
  readAhead_.pop_front();
  try {
    const bool judged = judgeQuery(wql);
    if (!judged) {
      Reply reply = next(taken.request);
      if (reply.verb == Verb::Error) throw *reply.error;
      if (reply.verb != Verb::Ok)
        violation(std::string("a query was accepted with ") + verbName(reply.verb));
    }
    return std::make_unique<RemoteStream>(shared_from_this(), taken.id, taken.request, judged);
  } catch (...) {
    abandon(taken.id);
    throw;
  }
}

void ClientSession::dropReadAhead() {
  auto dropped = std::move(readAhead_);
  readAhead_.clear();
  for (const auto& query : dropped) abandon(query.id);
}

std::unique_ptr<ObjectStream> ClientSession::query(std::string_view wql) {
  checkCaller();
  if (auto stream = takeReadAhead(wql)) return stream;
  dropReadAhead();
  // A query judged here goes without waiting: its acceptance comes with its first objects.
  const bool judged = judgeQuery(wql);
  auto [id, request] = open("the query " + displayName(wql));
  try {
    send(Message{Verb::Query, id, {Value::text(std::string(wql))}}, request->what);
    if (!judged) {
      Reply reply = next(request);
      if (reply.verb == Verb::Error) throw *reply.error;
      if (reply.verb != Verb::Ok)
        violation(std::string("a query was accepted with ") + verbName(reply.verb));
    }
  } catch (...) {
    finish(id);
    throw;
  }
  return std::make_unique<RemoteStream>(shared_from_this(), id, request, judged);
}

ManagementObject ClientSession::get(std::string_view path) {
  checkCaller();
  dropReadAhead();
  auto [id, request] = open("the request for " + displayName(path));
  try {
    send(Message{Verb::Get, id, {Value::text(std::string(path))}}, request->what);
    Reply reply = next(request);
    finish(id);
    if (reply.verb == Verb::Error) throw *reply.error;
    if (reply.verb != Verb::Object)
      violation(std::string("a get was answered with ") + verbName(reply.verb));
    return std::move(reply.object);
  } catch (...) {
    finish(id);
    throw;
  }
}

Value ClientSession::call(std::string_view path, std::string_view method) {
  checkCaller();
  dropReadAhead();
  auto [id, request] = open("the call of " + displayName(method) + " on " + displayName(path));
  try {
    send(
        Message{Verb::Call, id, {Value::text(std::string(path)), Value::text(std::string(method))}},
        request->what);
    Reply reply = next(request);
    finish(id);
    if (reply.verb == Verb::Error) throw *reply.error;
    if (reply.verb != Verb::Result)
      violation(std::string("a call was answered with ") + verbName(reply.verb));
    return reply.value;
  } catch (...) {
    finish(id);
    throw;
  }
}

SubscriptionId ClientSession::subscribe(std::string_view query, EventCallback callback) {
  // A subscription judged here goes without waiting for its ok, which is then dropped.
  const bool judged = judgeSubscription(query);
  auto [id, request] = open("the subscription " + displayName(query));
  {
    // Registered before the request goes, as the first event may overtake the agent's ok.
    std::lock_guard lock(callbacksMutex_);
    callbacks_[id] = std::move(callback);
  }
  try {
    send(Message{Verb::Subscribe, id, {Value::text(std::string(query))}}, request->what);
    if (judged) {
      finish(id);
      return id;
    }
    Reply reply = next(request);
    finish(id);
    if (reply.verb == Verb::Error) throw *reply.error;
    if (reply.verb != Verb::Ok)
      violation(std::string("a subscribe was answered with ") + verbName(reply.verb));
    return id;
  } catch (...) {
    finish(id);
    std::lock_guard lock(callbacksMutex_);
    callbacks_.erase(id);
    throw;
  }
}

void ClientSession::cancel(SubscriptionId id) {
  size_t erased;
  {
    std::lock_guard lock(callbacksMutex_);
    erased = callbacks_.erase(id);
  }
  if (erased) abandon(id);
}

}  // namespace kestrava::remote
