#include "service/systemd/InitScriptProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>
#include <thread>

namespace kestrava::service {

namespace {

// What `service` gives a script: a known PATH and locale, nothing of the caller's environment.
std::array<char*, 3> kEnvironment{
    const_cast<char*>("PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"),
    const_cast<char*>("LANG=C"), nullptr};

struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    for (int fd = 0; fd < 3; ++fd)
      posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    sigset_t defaults;
    sigfillset(&defaults);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
};

}  // namespace

InitScriptProcess::InitScriptProcess(const std::string& script, const std::string& action) {
  SpawnSetup setup;
  std::array<char*, 3> argv{const_cast<char*>(script.c_str()), const_cast<char*>(action.c_str()),
                            nullptr};
  int rc = posix_spawn(&pid_, script.c_str(), &setup.actions, &setup.attributes, argv.data(),
                       kEnvironment.data());
  if (rc != 0) throw std::system_error(rc, std::generic_category(), script);
  pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
}

InitScriptProcess::~InitScriptProcess() {
  if (!exitCode_ && !reap(false)) {
    ::kill(-pid_, SIGKILL);  // the script's session: it and whatever it started and still waits on
    ::kill(pid_, SIGKILL);
    reap(true);
  }
  if (pidfd_ >= 0) ::close(pidfd_);
}

bool InitScriptProcess::reap(bool block) {
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r != pid_) return false;
  exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return true;
}

std::optional<int> InitScriptProcess::waitUntil(std::chrono::steady_clock::time_point deadline) {
  using namespace std::chrono;
  while (!exitCode_ && !reap(false)) {
    auto left = duration_cast<milliseconds>(deadline - steady_clock::now());
    if (left.count() <= 0) break;
    if (pidfd_ >= 0) {
      pollfd p{pidfd_, POLLIN, 0};
      ::poll(&p, 1, static_cast<int>(std::min<int64_t>(left.count(), 1000)));
    } else {
      std::this_thread::sleep_for(std::min(left, milliseconds(10)));
    }
  }
  return exitCode_;
}

}  // namespace kestrava::service
