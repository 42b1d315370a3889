#include <pthread.h>
#include <signal.h>

#include <ctime>
#include <iostream>

#include "connect/Connector.h"
#include "query/CommandLine.h"
#include "query/QueryTool.h"

namespace {

std::string localTime() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  localtime_r(&now, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  using kestrava::query::CommandLine;
  std::ios::sync_with_stdio(false);
  CommandLine cmd;
  try {
    cmd = CommandLine::parse(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const kestrava::query::UsageError& e) {
    std::cerr << "kestrava-query: " << e.what() << "\nTry 'kestrava-query --help'.\n";
    return 2;
  }
  if (cmd.mode == CommandLine::Mode::Help) {
    std::cout << CommandLine::usage();
    return 0;
  }
  if (cmd.mode == CommandLine::Mode::Version) {
    std::cout << "kestrava-query " << KESTRAVA_VERSION << '\n';
    return 0;
  }

  // A watch ends on SIGINT or SIGTERM: blocked here, before any thread starts, and awaited.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  if (cmd.mode == CommandLine::Mode::Watch) pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  kestrava::query::QueryToolContext context{&kestrava::connectComputer, std::cout, std::cerr,
                                            [&] {
                                              int signal = 0;
                                              sigwait(&stopSignals, &signal);
                                            },
                                            &localTime};
  return kestrava::query::runQueryTool(cmd, context);
}
