// Faults on the far side of a real ssh: a mount on the booted server that stops answering, and
// the network to the server dying under an open connection.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <thread>

#include "remote/LoopbackRelay.h"
#include "server/ServerFixture.h"

namespace kestrava::testing {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class ServerFaults : public BootedServer {};

// A share whose server went (a FUSE file system that never answers, mounted on the server): the
// disk query over ssh answers within its bound, with that disk's sizes empty and every other
// disk complete, and the next query does not wait for it again.
TEST_F(ServerFaults, AHungMountOnTheServerCostsTheDiskQueryItsBoundOnce) {
  // The never-answering daemon runs here, in the server's mount namespace: it needs this side's
  // /dev/fuse, whatever the server's own device rules allow.
  const std::string pid = std::getenv("KESTRAVA_TEST_SERVER_PID");
  const std::string root = "/proc/" + pid + "/root";
  std::filesystem::create_directories(root + "/mnt/gone");
  std::filesystem::copy_file(KESTRAVA_HANGING_MOUNT_PROGRAM,
                             root + "/usr/local/bin/kestrava-hanging-mount",
                             std::filesystem::copy_options::overwrite_existing);
  const std::string log = ::testing::TempDir() + "kestrava-hanging-mount.log";
  const pid_t daemon = ::fork();
  ASSERT_GE(daemon, 0);
  if (daemon == 0) {
    const int err = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (err >= 0) ::dup2(err, 2);
    ::execlp("nsenter", "nsenter", "-t", pid.c_str(), "-m", "--",
             "/usr/local/bin/kestrava-hanging-mount", "/mnt/gone", nullptr);
    ::_exit(127);
  }
  // Its daemon gone, every call waiting on the mount fails at once and the mount can go.
  struct Guard {
    pid_t daemon;
    std::string pid;
    ~Guard() {
      if (daemon > 0) {
        ::kill(daemon, SIGKILL);
        ::waitpid(daemon, nullptr, 0);
      }
      const std::string line = "nsenter -t " + pid + " -m -p -- umount -l /mnt/gone 2>/dev/null";
      (void)std::system(line.c_str());
    }
  } guard{daemon, pid};
  auto mounted = [&] {
    std::ifstream mountinfo("/proc/" + pid + "/mountinfo");
    std::string line;
    while (std::getline(mountinfo, line))
      if (line.find(" /mnt/gone ") != std::string::npos) return true;
    return false;
  };
  const auto deadline = Clock::now() + 10s;
  while (!mounted() && Clock::now() < deadline) {
    if (::waitpid(daemon, nullptr, WNOHANG) == daemon) {
      guard.daemon = -1;
      std::ifstream in(log);
      FAIL() << "the hanging mount could not be made: "
             << std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::this_thread::sleep_for(50ms);
  }
  ASSERT_TRUE(mounted()) << "the hanging mount did not appear on the server";

  auto server = connectComputer(as("admin"));
  auto ask = [&] {
    return std::async(std::launch::async, [&] {
      return byKey(*server, "Select DeviceID, FileSystem, Size, FreeSpace From Win32_LogicalDisk",
                   "DeviceID");
    });
  };
  auto start = Clock::now();
  auto first = ask();
  ASSERT_EQ(first.wait_for(60s), std::future_status::ready)
      << "the disk query waits for the hung mount";
  const double firstSeconds = secondsSince(start);
  const auto disks = first.get();
  EXPECT_LT(firstSeconds, 10.0);
  ASSERT_TRUE(disks.count("/mnt/gone"));
  EXPECT_TRUE(disks.at("/mnt/gone").get("Size").isNull());
  EXPECT_TRUE(disks.at("/mnt/gone").get("FreeSpace").isNull());
  EXPECT_FALSE(disks.at("/").get("Size").isNull());
  EXPECT_FALSE(disks.at("/srv/data1").get("Size").isNull());

  start = Clock::now();
  auto second = ask();
  ASSERT_EQ(second.wait_for(60s), std::future_status::ready);
  second.get();
  EXPECT_LT(secondsSince(start), 1.5) << "a mount known to hang was asked again";
}

// After the connect the network goes silent (nothing passes, nothing closes) and the user stops
// a service: the call ends with an error that names the computer, in bounded time.
TEST_F(ServerFaults, ACallAfterTheNetworkToTheServerDiedEndsWithAnError) {
  remote::testing::LoopbackRelay relay(std::stoi(std::getenv("KESTRAVA_TEST_SERVER_PORT")));
  const std::string name = as("admin");
  auto server = connectComputerWithSsh(
      name, {"-o", "Port=" + std::to_string(relay.port()), "-o",
             "HostKeyAlias=[127.0.0.1]:" + std::string(std::getenv("KESTRAVA_TEST_SERVER_PORT"))});
  EXPECT_EQ(byKey(*server, "Select Name From Win32_Service", "Name").count("cron.service"), 1u);
  relay.blackHole();
  const auto start = Clock::now();
  auto stop = std::async(std::launch::async, [&] {
    try {
      server->execMethod("Win32_Service='cron.service'", "StopService");
    } catch (const ComError& e) {
      return e;
    }
    return ComError(0, "the call succeeded", "");
  });
  ASSERT_EQ(stop.wait_for(90s), std::future_status::ready) << "the call never came back";
  const ComError error = stop.get();
  EXPECT_LT(secondsSince(start), 60.0);
  EXPECT_NE(error.number(), 0);
  EXPECT_NE(error.description().find(name), std::string::npos) << error.description();
  EXPECT_EQ(lines(onServer("systemctl show -p ActiveState --value cron.service")).at(0), "active")
      << "the request crossed a dead network";
}

}  // namespace
}  // namespace kestrava::testing
