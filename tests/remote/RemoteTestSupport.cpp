#include "remote/RemoteTestSupport.h"

#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <filesystem>
#include <stdexcept>

#include "remote/FdIo.h"

namespace kestrava::remote::testing {

SocketPair::SocketPair() {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
    throw std::runtime_error("socketpair failed");
  client.reset(fds[0]);
  agent.reset(fds[1]);
}

InProcessAgent::InProcessAgent(AgentSession::Opener open) {
  thread_ = std::thread([this, open = std::move(open)] {
    AgentSession session(pair_.agent.get(), pair_.agent.get(), open);
    outcome_ = session.run();
  });
}

InProcessAgent::~InProcessAgent() {
  // A client that never took its end leaves the agent waiting; closing it ends the session.
  pair_.client.reset();
  kill();
  if (thread_.joinable()) thread_.join();
}

std::unique_ptr<Transport> InProcessAgent::transport() {
  return std::make_unique<SocketTransport>(std::move(pair_.client));
}

void InProcessAgent::kill() {
  ::shutdown(pair_.agent.get(), SHUT_RDWR);
}

AgentSession::Outcome InProcessAgent::outcome() {
  if (thread_.joinable()) thread_.join();
  return outcome_;
}

namespace {
class GatedStream final : public ObjectStream {
 public:
  GatedStream(std::unique_ptr<ObjectStream> inner, size_t before, std::shared_ptr<Latch> gate)
      : inner_(std::move(inner)), before_(before), gate_(std::move(gate)) {}
  std::optional<ManagementObject> next() override {
    if (delivered_++ == before_ && !gate_->wait(std::chrono::seconds(10)))
      throw ComError(err::kWbemFailed, "the test's gate never opened ", "test");
    return inner_->next();
  }

 private:
  std::unique_ptr<ObjectStream> inner_;
  size_t before_;
  size_t delivered_ = 0;
  std::shared_ptr<Latch> gate_;
};
}  // namespace

std::unique_ptr<ObjectStream> GatedConnection::execQuery(std::string_view wql) {
  return std::make_unique<GatedStream>(inner_->execQuery(wql), before_, gate_);
}

std::string readFor(int fd, size_t expected, std::chrono::milliseconds limit) {
  std::string out;
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (out.size() < expected) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char buffer[4096];
    ssize_t n = readSome(fd, buffer, std::min(sizeof buffer, expected - out.size()));
    if (n <= 0) break;
    out.append(buffer, static_cast<size_t>(n));
  }
  return out;
}

std::string readToEnd(int fd, std::chrono::milliseconds limit) {
  return readFor(fd, SIZE_MAX / 2, limit);
}

void writeBytes(int fd, const std::string& bytes) {
  if (!writeAll(fd, bytes)) throw std::runtime_error("write to the peer failed");
}

bool processExists(int pid) {
  return pid > 0 && std::filesystem::exists("/proc/" + std::to_string(pid));
}

int openDescriptors() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    ++count;
  return count;
}

}  // namespace kestrava::remote::testing
