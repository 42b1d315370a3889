#include "sys/ChildCleanup.h"

#include <signal.h>
#include <sys/wait.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <exception>

namespace kestrava::sys {

namespace {

// Enough for any --parallel a user would give; a child beyond it is only not remembered.
constexpr int kSlots = 4096;
std::atomic<pid_t> slots[kSlots];
static_assert(std::atomic<pid_t>::is_always_lock_free, "the signal handler needs lock-free slots");

constexpr long kGraceNanoseconds = 1000L * 1000 * 1000;
constexpr long kPollNanoseconds = 10L * 1000 * 1000;

std::terminate_handler previousTerminate = nullptr;

long elapsedSince(const timespec& start) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (now.tv_sec - start.tv_sec) * 1000L * 1000 * 1000 + (now.tv_nsec - start.tv_nsec);
}

// Whether the child has ended (reaped or not); it is left waitable.
bool hasEnded(pid_t pid) {
  siginfo_t info{};
  if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
    return errno == ECHILD;
  return info.si_pid == pid;
}

// The child is its session's and process group's leader: the group holds what it started too.
void signalGroup(pid_t pid, int signal) {
  if (::kill(-pid, signal) != 0) ::kill(pid, signal);
}

void onEndSignal(int signal) {
  const int savedErrno = errno;
  endRememberedChildren();
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal, &fallback, nullptr);
  raise(signal);  // delivered once this handler returns, to end the program the default way
  errno = savedErrno;
}

void onTerminate() {
  endRememberedChildren();
  if (previousTerminate) previousTerminate();
  std::abort();
}

}  // namespace

void rememberChild(pid_t pid) noexcept {
  for (auto& slot : slots) {
    pid_t empty = 0;
    if (slot.compare_exchange_strong(empty, pid)) return;
  }
}

void forgetChild(pid_t pid) noexcept {
  for (auto& slot : slots) {
    pid_t expected = pid;
    if (slot.compare_exchange_strong(expected, 0)) return;
  }
}

void endRememberedChildren() noexcept {
  bool any = false;
  for (auto& slot : slots) {
    const pid_t pid = slot.load();
    if (pid <= 0) continue;
    signalGroup(pid, SIGTERM);
    any = true;
  }
  if (!any) return;
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    bool running = false;
    for (auto& slot : slots) {
      const pid_t pid = slot.load();
      if (pid > 0 && !hasEnded(pid)) running = true;
    }
    if (!running) break;
    if (elapsedSince(start) >= kGraceNanoseconds) {
      for (auto& slot : slots) {
        const pid_t pid = slot.load();
        if (pid > 0) signalGroup(pid, SIGKILL);
      }
      break;
    }
    const timespec pause{0, kPollNanoseconds};
    nanosleep(&pause, nullptr);
  }
}

void endChildrenOnEveryExit() {
  static std::atomic<bool> installed{false};
  if (installed.exchange(true)) return;
  std::atexit([] { endRememberedChildren(); });
  previousTerminate = std::set_terminate(&onTerminate);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    struct sigaction current {};
    sigaction(signal, nullptr, &current);
    if (current.sa_handler == SIG_IGN) continue;
    struct sigaction handler {};
    handler.sa_handler = &onEndSignal;
    sigemptyset(&handler.sa_mask);
    // The other ending signals wait while the children are being ended.
    for (int other : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&handler.sa_mask, other);
    sigaction(signal, &handler, nullptr);
  }
}

}  // namespace kestrava::sys
