#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <iostream>

#include "connect/Connector.h"
#include "query/CommandLine.h"
#include "query/ConnectionSharing.h"
#include "query/FdOutputBuffer.h"
#include "query/HostList.h"
#include "query/QueryTool.h"
#include "sys/ChildCleanup.h"

namespace {

std::string localTime() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  localtime_r(&now, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
  return text;
}

// A standard descriptor that was closed gets /dev/null, so no pipe or socket opened later takes
// its number; false when fd was closed.
bool keepOpen(int fd) {
  if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) return true;
  const int null = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
  if (null >= 0 && null != fd) {
    ::dup2(null, fd);
    ::close(null);
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  using kestrava::query::CommandLine;
  // Every ssh this program starts ends with it, however it ends.
  kestrava::sys::endChildrenOnEveryExit();
  const bool stdoutOpen = keepOpen(STDOUT_FILENO);
  keepOpen(STDIN_FILENO);
  keepOpen(STDERR_FILENO);
  // A reader that has gone away shows as a failed write, reported like any other.
  ::signal(SIGPIPE, SIG_IGN);

  kestrava::query::FdOutputBuffer outBuffer(STDOUT_FILENO);
  if (!stdoutOpen) outBuffer.fail(EBADF);
  std::ostream out(&outBuffer);
  std::ios::sync_with_stdio(false);

  CommandLine cmd;
  std::vector<std::string> computers;
  try {
    cmd = CommandLine::parse(std::vector<std::string>(argv + 1, argv + argc));
    if (cmd.mode != CommandLine::Mode::Help && cmd.mode != CommandLine::Mode::Version)
      computers = kestrava::query::computerNames(cmd, std::cin);
  } catch (const kestrava::query::UsageError& e) {
    std::cerr << "kestrava-query: " << e.what() << "\nTry 'kestrava-query --help'.\n";
    return 2;
  }

  // A watch ends on SIGINT, SIGTERM or SIGHUP: blocked here, before any thread starts, and
  // awaited.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stopSignals, signal);
  if (cmd.mode == CommandLine::Mode::Watch) pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  auto connect = [keep = cmd.keepConnections](const std::string& computer,
                                              const kestrava::ConnectHints& hints) {
    if (keep == 0 || kestrava::namesLocalComputer(computer))
      return kestrava::connectComputer(computer, hints);
    return kestrava::connectComputerWithSsh(
        computer, kestrava::query::connectionSharingOptions(computer, keep), hints);
  };
  kestrava::query::QueryToolContext context{
      connect,
      out,
      std::cerr,
      [&](std::chrono::milliseconds limit) {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(limit);
        const timespec wait{static_cast<time_t>(seconds.count()),
                            static_cast<long>((limit - seconds).count() * 1000000)};
        return ::sigtimedwait(&stopSignals, nullptr, &wait) > 0;
      },
      &localTime,
      [&] { return std::string(std::strerror(outBuffer.error())); }};
  if (cmd.mode == CommandLine::Mode::Help) {
    out << CommandLine::usage();
    return kestrava::query::checkOutput(0, context);
  }
  if (cmd.mode == CommandLine::Mode::Version) {
    out << "kestrava-query " << KESTRAVA_VERSION << '\n';
    return kestrava::query::checkOutput(0, context);
  }
  try {
    return kestrava::query::runQueryTool(cmd, computers, context);
  } catch (const kestrava::query::UsageError& e) {
    // A command line that only the service's answer shows to be wrong (a --sort property).
    out.flush();
    std::cerr << "kestrava-query: " << e.what() << "\nTry 'kestrava-query --help'.\n";
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "kestrava-query: " << e.what() << '\n';
    return 1;
  }
}
