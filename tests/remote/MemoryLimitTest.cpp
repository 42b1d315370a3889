// Hostile and oversized frames fed to each side in a child process whose address space is
// limited (RLIMIT_AS), as with `ulimit -v` or overcommit off: the peer ends the connection with an
// error and goes on; nothing may reserve what the bytes received could not fill, and no
// allocation failure may end the process.
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <cstdlib>
#include <fstream>

#include "remote/FdIo.h"
#include "remote/MessageCodec.h"
#include "remote/RemoteConnection.h"
#include "remote/RemoteTestSupport.h"
#include "support/ScriptedService.h"

#if defined(__SANITIZE_ADDRESS__)
#define KESTRAVA_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTRAVA_ASAN 1
#endif
#endif

namespace kestrava::remote {
namespace {

using testing::readToEnd;
using testing::SocketPair;
using testing::SocketTransport;
using testing::writeBytes;

// Called before any thread starts: every thread allocates from one heap and takes large blocks
// as mappings of their own, so the limit counts them (a thread's own heap is reserved ahead).
void mapLargeBlocksOneByOne() {
  ::mallopt(M_ARENA_MAX, 1);
  ::mallopt(M_MMAP_THRESHOLD, 64 * 1024);
}

// Leaves this process `extra` bytes of address space beyond what it maps now.
void limitAddressSpace(size_t extra) {
  std::ifstream status("/proc/self/status");
  size_t kib = 0;
  for (std::string key; status >> key;) {
    if (key == "VmSize:") {
      status >> kib;
      break;
    }
  }
  rlimit limit{kib * 1024 + extra, kib * 1024 + extra};
  if (kib == 0 || ::setrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(3);
}

// A message of nearly the frame limit whose sixteen nested arrays each claim almost every byte
// left: reserved as claimed, that is gigabytes.
std::string nestedClaims(const std::string& header) {
  std::string payload = header;
  for (size_t i = 0; i < kMaxArrayDepth; ++i) payload += "a8388000:";
  payload.resize(kMaxMessageBytes, 'n');
  return frame(payload);
}

// A valid message of nearly the frame limit: one long text.
std::string longText(const std::string& header) {
  std::string payload = header + "s" + std::to_string(kMaxMessageBytes - header.size() - 9) + ":";
  payload.resize(kMaxMessageBytes, 'x');
  return frame(payload);
}

const std::string kAgentHello = frame("hello 0\ni3;s14:kestrava-agents5:0.1.0");
const std::string kClientHello = frame("hello 0\ni3;s8:kestravas5:0.1.0");

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The client connects to a scripted agent, its address space is limited, then `bytes` arrive.
// Exits 0 when the next call fails with an error whose description holds `says`.
[[noreturn]] void clientReceives(const std::string& bytes, size_t extra, const char* says) {
  mapLargeBlocksOneByOne();
  SocketPair pair;
  sys::UniqueFd agentEnd = std::move(pair.agent);
  writeBytes(agentEnd.get(), kAgentHello + frame("ready 0\na0:"));
  RemoteConnection connection(std::make_unique<SocketTransport>(std::move(pair.client)), "far");
  testing::Latch limited;
  std::thread agent([&] {  // started first: a thread's stack would not fit under the limit
    limited.wait();
    writeAll(agentEnd.get(), bytes);
    readToEnd(agentEnd.get(), std::chrono::seconds(10));
  });
  limitAddressSpace(extra);
  limited.open();
  std::string error;
  try {
    connection.getObject("Win32_Process='1'");
  } catch (const ComError& e) {
    error = e.description();
  }
  ::shutdown(agentEnd.get(), SHUT_RDWR);
  agent.join();
  std::_Exit(has(error, says) && has(error, "\"far\"") ? 0 : 1);
}

// An agent session serves a scripted service; once it is ready its address space is limited,
// then `bytes` arrive. Exits 0 when it ends with `want` after saying why in an error message.
[[noreturn]] void agentReceives(const std::string& bytes, size_t extra,
                                AgentSession::Outcome want) {
  mapLargeBlocksOneByOne();
  kestrava::testing::ScriptedService service;
  SocketPair pair;
  std::string replies;
  std::thread client([&] {
    writeBytes(pair.client.get(), kClientHello);
    replies = testing::readFor(pair.client.get(), kAgentHello.size() + frame("ready 0\na0:").size(),
                               std::chrono::seconds(10));
    limitAddressSpace(extra);
    writeAll(pair.client.get(), bytes);
    replies += readToEnd(pair.client.get(), std::chrono::seconds(10));
  });
  AgentSession::Outcome outcome;
  {
    AgentSession session(pair.agent.get(), pair.agent.get(), [&] { return service.connect(); });
    outcome = session.run();
  }
  ::shutdown(pair.agent.get(), SHUT_RDWR);
  client.join();
  std::_Exit(outcome == want && has(replies, "error 0\n") ? 0 : 1);
}

class UnderAMemoryLimit : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef KESTRAVA_ASAN
    GTEST_SKIP() << "the sanitizer's shadow memory cannot live under an address-space limit";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
  }
};

constexpr size_t kRoomy = 384u << 20;  // far more than a frame needs, far less than its claims
constexpr size_t kTight = 4u << 20;    // less than one frame of the maximum size

TEST_F(UnderAMemoryLimit, AHostileAgentsClaimsEndTheConnectionNotTheClient) {
  EXPECT_EXIT(clientReceives(nestedClaims("object 1\ni1;"), kRoomy, "malformed message"),
              ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(clientReceives(longText("result 1\n"), kTight, "could not take in a message"),
              ::testing::ExitedWithCode(0), "");
}

TEST_F(UnderAMemoryLimit, AHostileClientsClaimsEndTheSessionNotTheAgent) {
  EXPECT_EXIT(agentReceives(nestedClaims("query 1\n"), kRoomy, AgentSession::kProtocolViolation),
              ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(agentReceives(longText("query 1\n"), kTight, AgentSession::kFailed),
              ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kestrava::remote
