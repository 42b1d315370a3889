#include "remote/ChildProcess.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <thread>

#include "remote/ChildCleanup.h"

extern char** environ;

namespace kestrava::remote {

namespace {

constexpr auto kGrace = std::chrono::milliseconds(1000);

// posix_spawn's attributes and file actions, destroyed on every path.
struct SpawnSetup {
  posix_spawnattr_t attr;
  posix_spawn_file_actions_t actions;
  SpawnSetup() {
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_init(&actions);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

void check(int rc) {
  if (rc != 0) throw std::system_error(rc, std::generic_category());
}

void prepare(SpawnSetup& s, int childStdio, int childStderr) {
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int sig : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD, SIGTSTP, SIGTTIN, SIGTTOU})
    sigaddset(&defaults, sig);
  check(posix_spawnattr_setsigmask(&s.attr, &none));
  check(posix_spawnattr_setsigdefault(&s.attr, &defaults));
  check(posix_spawnattr_setflags(
      &s.attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID));
  check(posix_spawn_file_actions_adddup2(&s.actions, childStdio, STDIN_FILENO));
  check(posix_spawn_file_actions_adddup2(&s.actions, childStdio, STDOUT_FILENO));
  check(posix_spawn_file_actions_adddup2(&s.actions, childStderr, STDERR_FILENO));
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
    throw std::system_error(errno, std::generic_category());
  stdio_.reset(pair[0]);
  UniqueFd childStdio(pair[1]);
  int errPipe[2];
  if (::pipe2(errPipe, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category());
  stderr_.reset(errPipe[0]);
  UniqueFd childStderr(errPipe[1]);

  SpawnSetup setup;
  prepare(setup, childStdio.get(), childStderr.get());
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  // No signal may end this program between the start and the remembering.
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &previous);
  const int spawned =
      posix_spawnp(&pid_, args[0], &setup.actions, &setup.attr, args.data(), environ);
  if (spawned == 0) rememberChild(pid_);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  check(spawned);
}

ChildProcess::~ChildProcess() {
  stop();
}

std::optional<int> ChildProcess::waitFor(std::chrono::milliseconds timeout) {
  if (status_ || pid_ <= 0) return status_;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    int status = 0;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_ || (r < 0 && errno != EINTR)) {
      status_ = r == pid_ ? status : -1;
      forgetChild(pid_);
      return status_;
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(20));
  }
}

int ChildProcess::stop() {
  stdio_.reset();
  stderr_.reset();
  if (pid_ <= 0) return -1;
  if (auto s = waitFor(kGrace)) return *s;
  ::kill(pid_, SIGTERM);
  if (auto s = waitFor(kGrace)) return *s;
  return kill();
}

int ChildProcess::kill() {
  if (status_ || pid_ <= 0) return status_.value_or(-1);
  ::kill(pid_, SIGKILL);
  int status = 0;
  pid_t r;
  while ((r = ::waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
  }
  status_ = r == pid_ ? status : -1;
  forgetChild(pid_);
  return *status_;
}

}  // namespace kestrava::remote
