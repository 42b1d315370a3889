#include "remote/LoopbackRelay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <deque>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "remote/FdIo.h"

namespace kestrava::remote::testing {

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

sys::UniqueFd tcpSocket() {
  sys::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) throw std::runtime_error("the relay could not make a socket");
  int on = 1;
  ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

// One direction of a relayed connection: chunks read from `from`, each written to `to` once its
// time has come; an empty chunk stands for the end of the stream.
struct Direction {
  Direction(int from, int to) : from(from), to(to) {}
  int from;
  int to;
  bool ended = false;
  std::deque<std::pair<Clock::time_point, std::string>> chunks;
};

struct Link {
  sys::UniqueFd client, server;
  Direction up{-1, -1}, down{-1, -1};
};

void flushDue(Direction& d, Clock::time_point now) {
  while (!d.chunks.empty() && d.chunks.front().first <= now) {
    if (d.chunks.front().second.empty())
      ::shutdown(d.to, SHUT_WR);
    else
      writeAll(d.to, d.chunks.front().second);
    d.chunks.pop_front();
  }
}

}  // namespace

LoopbackRelay::LoopbackRelay(int serverPort, std::chrono::milliseconds delay)
    : serverPort_(serverPort), delay_(delay), listener_(tcpSocket()) {
  auto address = loopback(0);
  socklen_t length = sizeof address;
  if (::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_.get(), 16) != 0 ||
      ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error("the relay could not listen on 127.0.0.1");
  port_ = ntohs(address.sin_port);
  int stop[2];
  if (::pipe2(stop, O_CLOEXEC) != 0) throw std::runtime_error("the relay could not make a pipe");
  stopRead_.reset(stop[0]);
  stopWrite_.reset(stop[1]);
  thread_ = std::thread([this] { run(); });
}

LoopbackRelay::~LoopbackRelay() {
  char byte = 0;
  [[maybe_unused]] auto n = ::write(stopWrite_.get(), &byte, 1);
  thread_.join();
}

void LoopbackRelay::run() {
  std::vector<std::unique_ptr<Link>> links;
  for (;;) {
    const bool hole = hole_;
    std::vector<pollfd> fds{{stopRead_.get(), POLLIN, 0}, {listener_.get(), POLLIN, 0}};
    std::vector<Direction*> readers;
    auto next = Clock::time_point::max();
    for (auto& link : links) {
      for (Direction* d : {&link->up, &link->down}) {
        if (hole) continue;  // nothing is read, nothing is written, nothing is closed
        if (!d->ended) {
          fds.push_back({d->from, POLLIN, 0});
          readers.push_back(d);
        }
        if (!d->chunks.empty()) next = std::min(next, d->chunks.front().first);
      }
    }
    int timeout = -1;
    if (hole) {
      timeout = 50;  // looks again whether it is still a hole: it stays one
    } else if (next != Clock::time_point::max()) {
      timeout = static_cast<int>(std::max<int64_t>(
          0, std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count()));
    }
    if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) return;
    if (fds[0].revents) return;
    if (fds[1].revents & POLLIN) {
      auto link = std::make_unique<Link>();
      link->client.reset(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
      link->server = tcpSocket();
      auto address = loopback(serverPort_);
      if (link->client && ::connect(link->server.get(), reinterpret_cast<sockaddr*>(&address),
                                    sizeof address) == 0) {
        link->up = Direction(link->client.get(), link->server.get());
        link->down = Direction(link->server.get(), link->client.get());
        links.push_back(std::move(link));
      }
    }
    const auto now = Clock::now();
    for (size_t i = 0; i < readers.size(); ++i) {
      if (!fds[i + 2].revents) continue;
      Direction& d = *readers[i];
      char buffer[64 * 1024];
      ssize_t n = readSome(d.from, buffer, sizeof buffer);
      if (n <= 0) d.ended = true;
      d.chunks.emplace_back(now + delay_, n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "");
    }
    if (hole_) continue;
    for (auto& link : links) {
      flushDue(link->up, Clock::now());
      flushDue(link->down, Clock::now());
    }
  }
}

}  // namespace kestrava::remote::testing
