#include "remote/AgentSession.h"

#include <poll.h>

#include <chrono>
#include <exception>

#include "remote/FdIo.h"
#include "remote/MessageCodec.h"
#include "remote/ProtocolError.h"
#include "service/WqlParser.h"

namespace kestrava::remote {

namespace {
constexpr size_t kReadSize = 64 * 1024;
constexpr size_t kCancelCheckEvery = 32;
constexpr auto kSlowObject = std::chrono::milliseconds(1);
// Queries begun ahead of their turn at most; each holds a few hundred objects at most.
constexpr size_t kMaxBegun = 8;

Message hello() {
  return Message{Verb::Hello,
                 0,
                 {Value::integer(kProtocolVersion), Value::text("kestrava-agent"),
                  Value::text(KESTRAVA_VERSION)}};
}

// The writer says "busy" for the request while this lives.
class WorkingOn {
 public:
  WorkingOn(FrameWriter& out, uint64_t id) : out_(out) { out_.working(id); }
  ~WorkingOn() { out_.idle(); }
  WorkingOn(const WorkingOn&) = delete;
  WorkingOn& operator=(const WorkingOn&) = delete;

 private:
  FrameWriter& out_;
};

ComError unexpected(const std::exception& e) {
  return ComError(err::kWbemFailed, std::string("The management service failed: ") + e.what() + " ",
                  "SWbemServicesEx");
}
}  // namespace

AgentSession::AgentSession(int inFd, int outFd, Opener open, std::chrono::milliseconds busyInterval)
    : inFd_(inFd), out_(outFd, busyInterval), open_(std::move(open)) {}

AgentSession::~AgentSession() {
  endSubscriptions();
}

// Reads more input into the decoder; false at the end of the stream. With wait false it only
// takes what has already arrived.
bool AgentSession::fill(bool wait) {
  if (inputEnded_) return false;
  if (!wait) {
    pollfd p{inFd_, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) return true;
  }
  char buffer[kReadSize];
  ssize_t n = readSome(inFd_, buffer, sizeof buffer);
  if (n <= 0) {
    inputEnded_ = true;
    if (in_.midFrame()) throw ProtocolError("the stream ended in the middle of a message");
    return false;
  }
  in_.feed(std::string_view(buffer, static_cast<size_t>(n)));
  return true;
}

std::optional<Message> AgentSession::receive() {
  if (!pending_.empty()) {
    Message m = std::move(pending_.front());
    pending_.pop_front();
    return m;
  }
  for (;;) {
    if (auto payload = in_.next()) return decodePayload(*payload);
    if (!fill(true)) return std::nullopt;
  }
}

AgentSession::Outcome AgentSession::handshake() {
  if (!out_.send(hello())) return kOutputLost;
  auto first = receive();
  if (!first) return kClosed;
  if (first->verb != Verb::Hello) throw ProtocolError("the first message is not a hello");
  if (first->body[0].asInteger() != kProtocolVersion) {
    out_.sendError(
        0, ComError(err::kWbemNotSupported,
                    "The agent speaks protocol version " + std::to_string(kProtocolVersion) +
                        ", the client version " + std::to_string(first->body[0].asInteger()) + " ",
                    "kestrava-agent"));
    return kProtocolViolation;
  }
  try {
    connection_ = open_();
  } catch (const ComError& e) {
    out_.sendError(0, e);
    return kServiceUnavailable;
  } catch (const std::exception& e) {
    out_.sendError(0, unexpected(e));
    return kServiceUnavailable;
  }
  if (!connection_) {
    out_.sendError(0, ComError(err::kWbemFailed, "Generic failure ", "kestrava-agent"));
    return kServiceUnavailable;
  }
  // The client learns the classes with the ready, so it can judge its queries without asking.
  Value::Array classes;
  for (const auto& schema : connection_->classes())
    classes.push_back(Value::integer(out_.declare(schema)));
  return out_.send(Message{Verb::Ready, 0, {Value::array(std::move(classes))}}) ? kClosed
                                                                                : kOutputLost;
}

AgentSession::Outcome AgentSession::run() {
  auto outcome = serve();
  out_.flush();
  if (outcome == kClosed && out_.broken()) return kOutputLost;
  return outcome;
}

AgentSession::Outcome AgentSession::serve() {
  try {
    auto outcome = handshake();
    if (outcome != kClosed || !connection_) return outcome;
    while (auto request = receive()) {
      WorkingOn working(out_, request->id);
      handle(*request);
      if (out_.broken()) return kOutputLost;
    }
  } catch (const ProtocolError& e) {
    out_.sendError(0, e);
    return kProtocolViolation;
  } catch (const std::exception& e) {
    // Out of memory, most likely: the session ends with an error instead of the agent.
    try {
      out_.sendError(0, unexpected(e));
    } catch (const std::exception&) {
      // The client learns of the end from the closed stream alone.
    }
    return kFailed;
  }
  return kClosed;
}

void AgentSession::fail(uint64_t id, const ComError& error) {
  out_.sendError(id, error);
}

void AgentSession::handle(const Message& r) {
  try {
    switch (r.verb) {
      case Verb::Query:
        streamQuery(r.id, r.body[0].asText());
        return;
      case Verb::Get:
        out_.sendObject(Verb::Object, r.id, connection_->getObject(r.body[0].asText()));
        return;
      case Verb::Call:
        out_.send(Message{
            Verb::Result, r.id, {connection_->execMethod(r.body[0].asText(), r.body[1].asText())}});
        return;
      case Verb::Subscribe:
        subscribe(r.id, r.body[0].asText());
        return;
      case Verb::Cancel:
        cancel(r.id, static_cast<uint64_t>(r.body[0].asInteger()));
        return;
      default:
        throw ProtocolError(std::string("a client may not send a ") + verbName(r.verb) +
                            " message");
    }
  } catch (const ProtocolError&) {
    throw;
  } catch (const ComError& e) {
    fail(r.id, e);
  } catch (const std::exception& e) {
    fail(r.id, unexpected(e));
  }
}

// Writes a query's objects as the service yields them: the writer's bound on what may wait for
// the peer holds the service back when the client reads slowly.
class AgentSession::QueryWriter final : public ObjectSink {
 public:
  QueryWriter(AgentSession& session, uint64_t id) : session_(session), id_(id) {}

  void accepted() override {
    accepted_ = true;
    if (!session_.out_.send(Message{Verb::Ok, id_, {}})) outputLost_ = true;
    asked_ = std::chrono::steady_clock::now();
  }
  bool object(ManagementObject&& object) override {
    // Looking for a cancel costs a system call: after a slow object, or every so many objects.
    bool slow = std::chrono::steady_clock::now() - asked_ > kSlowObject;
    if ((slow || ++count_ % kCancelCheckEvery == 0) && session_.cancelRequested(id_)) return false;
    if (!session_.out_.sendObject(Verb::Object, id_, object)) outputLost_ = true;
    asked_ = std::chrono::steady_clock::now();
    return !outputLost_;
  }

  bool accepted_ = false;
  bool outputLost_ = false;

 private:
  AgentSession& session_;
  uint64_t id_;
  size_t count_ = 0;
  std::chrono::steady_clock::time_point asked_;
};

namespace {
// The class a query reads, or empty when it names none that parses.
std::string classOf(const std::string& wql) {
  try {
    return toLowerAscii(service::WqlParser::parseSelect(wql).className);
  } catch (const ComError&) {
    return {};
  }
}
}  // namespace

void AgentSession::streamQuery(uint64_t id, const std::string& wql) {
  QueryWriter writer(*this, id);
  Begun begun;
  if (auto it = begun_.find(id); it != begun_.end()) {
    begun = std::move(it->second);
    begun_.erase(it);
  }
  answering_ = begun.stream || begun.refusal ? begun.className : classOf(wql);
  beginWaitingQueries();
  try {
    if (begun.refusal) throw *begun.refusal;
    if (cancelQueued(id)) {
      writer.accepted();  // given up before its turn: nothing of it is read or sent
    } else if (begun.stream) {
      writer.accepted();
      while (auto object = begun.stream->next())
        if (!writer.object(std::move(*object))) break;
    } else {
      connection_->execQueryInto(wql, writer);
    }
  } catch (const ProtocolError&) {
    throw;
  } catch (const ComError& e) {
    if (!writer.accepted_) throw;  // refused: an error instead of the ok
    fail(id, e);
    return;
  }
  if (!writer.outputLost_) out_.send(Message{Verb::End, id, {}});
}

// Moves every request that has already arrived into pending_.
void AgentSession::takeInArrived() {
  fill(false);
  while (auto payload = in_.next()) pending_.push_back(decodePayload(*payload));
}

// Begins the queries that wait, in order, up to the first request of another kind: nothing
// asked after a method call or a subscription is read before it. A query of a class that one
// begun (or the one streaming) reads waits for its turn, as it would wait for the provider.
void AgentSession::beginWaitingQueries() {
  takeInArrived();
  for (const Message& m : pending_) {
    if (m.verb != Verb::Query) return;
    if (begun_.count(m.id) || cancelQueued(m.id)) continue;
    if (begun_.size() >= kMaxBegun) return;
    const std::string wql = m.body[0].asText();
    const std::string cls = classOf(wql);
    if (cls.empty() || cls == answering_) continue;
    bool busy = false;
    for (const auto& [id, other] : begun_) busy = busy || other.className == cls;
    if (busy) continue;
    Begun begun{cls, nullptr, std::nullopt};
    try {
      begun.stream = connection_->execQuery(wql);
    } catch (const ComError& e) {
      begun.refusal = e;
    }
    begun_.emplace(m.id, std::move(begun));
  }
}

bool AgentSession::cancelQueued(uint64_t queryId) const {
  for (const Message& m : pending_)
    if (m.verb == Verb::Cancel && static_cast<uint64_t>(m.body[0].asInteger()) == queryId)
      return true;
  return false;
}

// Takes in whatever requests have already arrived; true when one cancels this query.
bool AgentSession::cancelRequested(uint64_t queryId) {
  bool cancelled = false;
  fill(false);
  while (auto payload = in_.next()) {
    Message m = decodePayload(*payload);
    if (m.verb == Verb::Cancel && static_cast<uint64_t>(m.body[0].asInteger()) == queryId) {
      cancelled = true;
      out_.send(Message{Verb::Ok, m.id, {}});
    } else {
      pending_.push_back(std::move(m));
    }
  }
  return cancelled || inputEnded_;
}

void AgentSession::subscribe(uint64_t id, const std::string& query) {
  // Runs on the service's notification thread; the writer's lock keeps frames whole.
  auto deliver = [this, id](const EventObject& event) {
    try {
      out_.sendEvent(id, event);
    } catch (const std::exception&) {
      // An event too large for one message (or for memory) is dropped; the next change brings a
      // fresh one.
    }
  };
  auto local = connection_->subscribe(query, deliver);
  subscriptions_[id] = local;
  out_.send(Message{Verb::Ok, id, {}});
}

void AgentSession::cancel(uint64_t id, uint64_t target) {
  if (auto it = subscriptions_.find(target); it != subscriptions_.end()) {
    auto local = it->second;
    subscriptions_.erase(it);
    connection_->cancel(local);
  }
  out_.send(Message{Verb::Ok, id, {}});
}

void AgentSession::endSubscriptions() {
  begun_.clear();  // their threads stop before the service goes
  if (!connection_) return;
  for (auto [id, local] : subscriptions_) {
    try {
      connection_->cancel(local);
    } catch (const std::exception&) {
      // The connection goes next and takes whatever is left with it.
    }
  }
  subscriptions_.clear();
  connection_.reset();
}

}  // namespace kestrava::remote
