#include "sys/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <thread>
#include <utility>

#include "sys/ChildCleanup.h"

extern char** environ;

namespace kestrava::sys {

namespace {

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

void check(int rc, const std::string& what) {
  if (rc != 0) throw std::system_error(rc, std::generic_category(), what);
}

std::vector<char*> pointersTo(const std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (const auto& s : strings) pointers.push_back(const_cast<char*>(s.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const Options& options)
    : ownSession_(options.ownSession), grace_(options.grace) {
  const std::string& program = options.program.empty() ? argv.at(0) : options.program;
  SpawnSetup s;
  UniqueFd childStdio, childStderr;
  if (options.piped) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
      throw std::system_error(errno, std::generic_category(), program);
    stdio_.reset(pair[0]);
    childStdio.reset(pair[1]);
    int errPipe[2];
    if (::pipe2(errPipe, O_CLOEXEC) != 0)
      throw std::system_error(errno, std::generic_category(), program);
    stderr_.reset(errPipe[0]);
    childStderr.reset(errPipe[1]);
    check(posix_spawn_file_actions_adddup2(&s.actions, childStdio.get(), STDIN_FILENO), program);
    check(posix_spawn_file_actions_adddup2(&s.actions, childStdio.get(), STDOUT_FILENO), program);
    check(posix_spawn_file_actions_adddup2(&s.actions, childStderr.get(), STDERR_FILENO), program);
  } else {
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
      check(posix_spawn_file_actions_addopen(&s.actions, fd, "/dev/null",
                                             fd == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0),
            program);
  }
  // Descriptors that another part of the program opened without O_CLOEXEC stay ours too.
  check(posix_spawn_file_actions_addclosefrom_np(&s.actions, STDERR_FILENO + 1), program);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  check(posix_spawnattr_setsigmask(&s.attr, &none), program);
  check(posix_spawnattr_setsigdefault(&s.attr, &all), program);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (options.ownSession) flags |= POSIX_SPAWN_SETSID;
  check(posix_spawnattr_setflags(&s.attr, flags), program);

  std::vector<char*> args = pointersTo(argv);
  std::vector<char*> env;
  if (options.environment) env = pointersTo(*options.environment);
  char* const* envp = options.environment ? env.data() : environ;
  // No signal may end this program between the start and the remembering.
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &all, &previous);
  const int spawned =
      options.searchPath
          ? posix_spawnp(&pid_, program.c_str(), &s.actions, &s.attr, args.data(), envp)
          : posix_spawn(&pid_, program.c_str(), &s.actions, &s.attr, args.data(), envp);
  if (spawned == 0) rememberChild(pid_);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (spawned != 0) {
    pid_ = -1;
    check(spawned, program);
  }
  // Without a pidfd (a kernel before 5.3), waiting falls back to looking now and then.
  pidfd_.reset(static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)));
}

ChildProcess::~ChildProcess() {
  stop();
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      ownSession_(other.ownSession_),
      grace_(other.grace_),
      status_(std::exchange(other.status_, std::nullopt)),
      pidfd_(std::move(other.pidfd_)),
      stdio_(std::move(other.stdio_)),
      stderr_(std::move(other.stderr_)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    stop();
    pid_ = std::exchange(other.pid_, -1);
    ownSession_ = other.ownSession_;
    grace_ = other.grace_;
    status_ = std::exchange(other.status_, std::nullopt);
    pidfd_ = std::move(other.pidfd_);
    stdio_ = std::move(other.stdio_);
    stderr_ = std::move(other.stderr_);
  }
  return *this;
}

std::optional<int> ChildProcess::reap(bool block) {
  if (status_ || pid_ <= 0) return status_;
  int status = 0;
  pid_t r;
  while ((r = ::waitpid(pid_, &status, block ? 0 : WNOHANG)) < 0 && errno == EINTR) {
  }
  if (r == 0) return std::nullopt;
  status_ = r == pid_ ? status : -1;  // -1: someone else reaped it
  forgetChild(pid_);
  return status_;
}

std::optional<int> ChildProcess::waitFor(std::chrono::milliseconds timeout) {
  return waitUntil(std::chrono::steady_clock::now() + timeout);
}

std::optional<int> ChildProcess::waitUntil(std::chrono::steady_clock::time_point deadline) {
  using namespace std::chrono;
  auto pause = milliseconds(1);
  for (;;) {
    if (auto status = reap(false); status || pid_ <= 0) return status;
    const auto left = duration_cast<milliseconds>(deadline - steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    if (pidfd_) {
      pollfd p{pidfd_.get(), POLLIN, 0};
      ::poll(&p, 1, static_cast<int>(std::min<int64_t>(left.count() + 1, 1000)));
    } else {
      std::this_thread::sleep_for(std::min(left, pause));
      pause = std::min(pause * 2, milliseconds(20));
    }
  }
}

int ChildProcess::kill() {
  if (status_ || pid_ <= 0) return status_.value_or(-1);
  // A killed program cannot end what it started: the group goes with it.
  if (ownSession_) ::kill(-pid_, SIGKILL);
  ::kill(pid_, SIGKILL);
  return reap(true).value_or(-1);
}

int ChildProcess::stop() {
  stdio_.reset();
  stderr_.reset();
  if (pid_ <= 0) return -1;
  if (auto status = waitFor(grace_)) return *status;
  if (grace_.count() > 0) {
    ::kill(pid_, SIGTERM);
    if (auto status = waitFor(grace_)) return *status;
  }
  return kill();
}

}  // namespace kestrava::sys
