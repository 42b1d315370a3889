#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "service/linux/EventLogFileProvider.h"
#include "service/linux/HungMount.h"
#include "service/linux/LogicalDiskProvider.h"
#include "service/linux/MountGuard.h"
#include "service/linux/ProviderTestSupport.h"

namespace kestrava::service::linuxsys {
namespace {

using namespace std::chrono_literals;
using Facts = std::map<std::string, std::string>;
using testing::HungMountRun;

constexpr auto kQuiet = 300ms;
constexpr auto kChildTimeout = 20s;  // far beyond the quiet bound: reached only when a call hangs

// Skips where this system cannot make the mount (no /dev/fuse, no namespaces); fails instead
// when the fixtures are required.
#define EXPECT_RAN_BESIDE_HUNG_MOUNT(run)                                                        \
  do {                                                                                           \
    if ((run).outcome == HungMountRun::Outcome::CannotSetUp) {                                   \
      const char* required = ::getenv("KESTRAVA_REQUIRE_FIXTURES");                              \
      if (required && std::string(required) == "1") FAIL() << "no hung mount: " << (run).reason; \
      GTEST_SKIP() << "cannot mount a FUSE file system here: " << (run).reason;                  \
    }                                                                                            \
    ASSERT_NE((run).outcome, HungMountRun::Outcome::TimedOut) << "a call on the mount hung";     \
    ASSERT_EQ((run).outcome, HungMountRun::Outcome::Finished);                                   \
  } while (0)

long millisecondsSince(std::chrono::steady_clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - start)
                               .count());
}

// Waits (bounded) until the call given up on the mount has returned.
size_t stuckAfterWaiting(const MountGuard& guard) {
  for (int i = 0; i < 500 && guard.stuckCalls() > 0; ++i) std::this_thread::sleep_for(10ms);
  return guard.stuckCalls();
}

TEST(HungMount, DisksAnswerWithinTheBoundAndTheHungMountIsNotAskedAgainUntilItAnswers) {
  testing::TempDir tmp;
  const std::string share = tmp.path() + "/share";
  std::filesystem::create_directory(share);
  const auto run = testing::runBesideHungMount(
      share,
      [&](int fuseFd, Facts& facts) {
        auto guard = std::make_shared<MountGuard>(MountGuard::Options{kQuiet, 32});
        std::atomic<int> shareAsked{0};
        SystemRoot root = SystemRoot::live();
        root.mountGuard = guard;
        root.statvfs = [&](const char* path, struct statvfs* out) {
          if (share == path) ++shareAsked;
          return ::statvfs(path, out);
        };
        LogicalDiskProvider provider(root);
        const auto start = std::chrono::steady_clock::now();
        auto disks = testing::enumerateAll(provider);
        facts["first_ms"] = std::to_string(millisecondsSince(start));
        int others = 0, othersWithSize = 0;
        for (const auto& d : disks) {
          if (d.get("DeviceID").asText() == share) {
            facts["share_size"] = d.get("Size").isNull() ? "null" : d.get("Size").asText();
            facts["share_type"] = d.get("FileSystem").asText();
          } else {
            ++others;
            othersWithSize += !d.get("Size").isNull();
          }
        }
        facts["others"] = std::to_string(others);
        facts["others_with_size"] = std::to_string(othersWithSize);
        facts["stuck_first"] = std::to_string(guard->stuckCalls());

        testing::enumerateAll(provider);
        facts["stuck_second"] = std::to_string(guard->stuckCalls());
        facts["asked_second"] = std::to_string(shareAsked);

        ::close(fuseFd);  // the share answers now, if only with an error
        facts["stuck_closed"] = std::to_string(stuckAfterWaiting(*guard));
        testing::enumerateAll(provider);
        facts["asked_third"] = std::to_string(shareAsked);
      },
      kChildTimeout);
  EXPECT_RAN_BESIDE_HUNG_MOUNT(run);
  auto facts = run.facts;
  EXPECT_LT(std::stol(facts["first_ms"]), 5000) << "the query waited for the hung mount";
  EXPECT_EQ(facts["share_type"], "fuse.kestrava-hang");
  EXPECT_EQ(facts["share_size"], "null");
  EXPECT_GT(std::stoi(facts["others"]), 0);
  EXPECT_EQ(facts["others_with_size"], facts["others"]) << "every other disk is complete";
  EXPECT_EQ(facts["stuck_first"], "1");
  EXPECT_EQ(facts["stuck_second"], "1") << "a mount known to hang was asked again";
  EXPECT_EQ(facts["asked_second"], "0");
  EXPECT_EQ(facts["stuck_closed"], "0") << "the call given up never returned";
  EXPECT_EQ(facts["asked_third"], "1") << "a mount that answers again is asked again";
}

TEST(HungMount, LogsBesideAHungMountAreListedAndCounted) {
  testing::TempDir tmp;
  const std::string varLog = tmp.path() + "/var/log";
  std::filesystem::create_directories(varLog + "/sub");
  std::filesystem::create_directories(varLog + "/remote");
  std::ofstream(varLog + "/a.log") << "1\n2\n";
  std::ofstream(varLog + "/sub/b.log") << "x\n";
  const auto run = testing::runBesideHungMount(
      varLog + "/remote",
      [&](int, Facts& facts) {
        auto guard = std::make_shared<MountGuard>(MountGuard::Options{kQuiet, 32});
        SystemRoot root = SystemRoot::live();
        root.varLog = varLog;
        root.mountGuard = guard;
        EventLogFileProvider provider(root);
        for (const char* round : {"first", "second"}) {
          const auto start = std::chrono::steady_clock::now();
          std::string logs;
          for (const auto& o : testing::enumerateAll(provider))
            logs += o.get("LogFileName").asText() + ":" + o.get("NumberOfRecords").toText() + " ";
          facts[std::string(round) + "_ms"] = std::to_string(millisecondsSince(start));
          facts[std::string(round) + "_logs"] = logs;
          facts[std::string(round) + "_stuck"] = std::to_string(guard->stuckCalls());
        }
      },
      kChildTimeout);
  EXPECT_RAN_BESIDE_HUNG_MOUNT(run);
  auto facts = run.facts;
  EXPECT_LT(std::stol(facts["first_ms"]), 5000);
  EXPECT_EQ(facts["first_logs"], "a:2 sub/b:1 ");
  EXPECT_EQ(facts["second_logs"], "a:2 sub/b:1 ");
  EXPECT_EQ(facts["first_stuck"], "1");
  EXPECT_EQ(facts["second_stuck"], "1") << "the hung mount was listed again";
}

}  // namespace
}  // namespace kestrava::service::linuxsys
