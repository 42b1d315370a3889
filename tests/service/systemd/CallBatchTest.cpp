#include "service/systemd/CallBatch.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace kestrava::service::systemd {
namespace {

using namespace std::chrono_literals;

// A peer on the far end of a socket pair, run on its own thread: it reads calls and answers
// them as the test says (in bursts, never, or by hanging up).
class Peer {
 public:
  enum class Mode { AnswerInBursts, Silent, HangUpAfterThree };

  explicit Peer(Mode mode) : mode_(mode) {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return;
    sd_bus* server = nullptr;
    sd_bus_new(&server);
    sd_id128_t id;
    sd_id128_randomize(&id);
    sd_bus_set_fd(server, fds[1], fds[1]);
    sd_bus_set_server(server, 1, id);
    sd_bus_set_anonymous(server, 1);
    sd_bus_start(server);
    server_.reset(server);
    sd_bus* client = nullptr;
    sd_bus_new(&client);
    sd_bus_set_fd(client, fds[0], fds[0]);
    sd_bus_set_anonymous(client, 1);
    sd_bus_start(client);
    client_.reset(client);
    thread_ = std::thread([this] { serve(); });
  }
  ~Peer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

  sd_bus* client() { return client_.get(); }
  MessagePtr call(int n) {
    sd_bus_message* m = nullptr;
    sd_bus_message_new_method_call(client_.get(), &m, nullptr, "/t", "t.T", "Echo");
    sd_bus_message_append(m, "i", n);
    return MessagePtr(m);
  }
  int largestBurst() const { return largestBurst_; }

 private:
  // Reads what has arrived, then (in burst mode) answers all of it at once.
  void serve() {
    std::vector<MessagePtr> waiting;
    int received = 0;
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!stop_ && std::chrono::steady_clock::now() < end) {
      sd_bus_message* m = nullptr;
      int r = sd_bus_process(server_.get(), &m);
      if (r < 0) return;
      if (m) {
        MessagePtr call(m);
        if (sd_bus_message_is_method_call(m, nullptr, nullptr) <= 0) continue;
        if (mode_ == Mode::HangUpAfterThree && ++received == 3) {
          server_.reset();
          return;
        }
        waiting.push_back(std::move(call));
        continue;
      }
      if (r > 0) continue;
      if (sd_bus_wait(server_.get(), 50'000) == 0 && !waiting.empty() &&
          mode_ == Mode::AnswerInBursts) {
        largestBurst_ = std::max<int>(largestBurst_, static_cast<int>(waiting.size()));
        for (MessagePtr& call : waiting) {
          int32_t n = 0;
          sd_bus_message_read(call.get(), "i", &n);
          sd_bus_reply_method_return(call.get(), "i", n * 2);
        }
        waiting.clear();
        sd_bus_flush(server_.get());
      }
    }
  }

  Mode mode_;
  BusPtr server_;
  BusPtr client_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> largestBurst_{0};
};

TEST(CallBatch, EveryCallIsAnsweredWithNoMoreThanTheWindowPending) {
  Peer peer(Peer::Mode::AnswerInBursts);
  CallBatch batch(peer.client(), 8, 5s);
  std::vector<int32_t> answers(40, -1);
  for (int i = 0; i < 40; ++i)
    batch.add(peer.call(i), [&answers, i](sd_bus_message* reply, const BusFailure* failure) {
      ASSERT_EQ(failure, nullptr);
      sd_bus_message_read(reply, "i", &answers[i]);
    });
  batch.run();
  for (int i = 0; i < 40; ++i) EXPECT_EQ(answers[i], 2 * i);
  EXPECT_EQ(peer.largestBurst(), 8);  // the window filled, and never overflowed
}

TEST(CallBatch, APeerThatNeverAnswersEndsAtTheDeadline) {
  Peer peer(Peer::Mode::Silent);
  CallBatch batch(peer.client(), 4, 300ms);
  for (int i = 0; i < 5; ++i) batch.add(peer.call(i), [](sd_bus_message*, const BusFailure*) {});
  const auto started = std::chrono::steady_clock::now();
  try {
    batch.run();
    ADD_FAILURE() << "no error";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kWbemTransportFailure);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
}

TEST(CallBatch, APeerThatHangsUpFailsTheBatch) {
  Peer peer(Peer::Mode::HangUpAfterThree);
  CallBatch batch(peer.client(), 16, 5s);
  for (int i = 0; i < 6; ++i)
    batch.add(peer.call(i), [](sd_bus_message*, const BusFailure* failure) {
      if (failure) throw toComError(*failure, "test");
    });
  const auto started = std::chrono::steady_clock::now();
  EXPECT_THROW(batch.run(), ComError);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
}

TEST(CallBatch, AHandlersExceptionReachesTheCaller) {
  Peer peer(Peer::Mode::AnswerInBursts);
  CallBatch batch(peer.client(), 2, 5s);
  int handled = 0;
  for (int i = 0; i < 4; ++i)
    batch.add(peer.call(i), [&handled, i](sd_bus_message*, const BusFailure*) {
      ++handled;
      if (i == 1) throw std::runtime_error("bad reply");
    });
  EXPECT_THROW(batch.run(), std::runtime_error);
  EXPECT_GE(handled, 2);
}

}  // namespace
}  // namespace kestrava::service::systemd
