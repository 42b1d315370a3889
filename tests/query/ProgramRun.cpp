#include "query/ProgramRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace kestrava::query::testing {

namespace {

using namespace std::chrono_literals;

bool maskHas(const std::string& statusFile, int signal) {
  std::ifstream status(statusFile);
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("SigBlk:", 0) != 0) continue;
    const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
    return (mask >> (signal - 1)) & 1;
  }
  return false;
}

std::vector<std::string> environmentWith(const std::vector<std::string>& added) {
  std::vector<std::string> all;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('=') + 1);
    bool replaced = false;
    for (const auto& a : added) replaced = replaced || a.rfind(name, 0) == 0;
    if (!replaced) all.push_back(entry);
  }
  all.insert(all.end(), added.begin(), added.end());
  return all;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

}  // namespace

bool blocksSignal(pid_t pid, int signal) {
  const std::string proc = "/proc/" + std::to_string(pid);
  std::ifstream wchan(proc + "/wchan");
  std::string waitingIn;
  std::getline(wchan, waitingIn);
  if (waitingIn.find("sigtimedwait") != std::string::npos) return true;
  std::error_code ec;
  for (const auto& task : std::filesystem::directory_iterator(proc + "/task", ec))
    if (maskHas(task.path().string() + "/status", signal)) return true;
  return false;
}

namespace {
// The processes for which keep(their /proc folder) says so.
std::vector<pid_t> processesWhere(const std::function<bool(const std::filesystem::path&)>& keep) {
  std::vector<pid_t> found;
  std::error_code ec;
  for (const auto& dir : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string name = dir.path().filename().string();
    if (name.find_first_not_of("0123456789") == std::string::npos && keep(dir.path()))
      found.push_back(std::stoi(name));
  }
  return found;
}
}  // namespace

std::vector<pid_t> processesWithEnvironment(const std::string& entry) {
  return processesWhere([&](const std::filesystem::path& proc) {
    std::ifstream in(proc / "environ");
    for (std::string variable; std::getline(in, variable, '\0');)
      if (variable == entry) return true;
    return false;
  });
}

std::vector<pid_t> childrenOf(pid_t parent) {
  return processesWhere([&](const std::filesystem::path& proc) {
    std::ifstream in(proc / "stat");
    std::string stat;
    std::getline(in, stat);
    // pid (comm) state ppid ...: the name may hold blanks and parentheses, so read after the last.
    const auto close = stat.rfind(')');
    if (close == std::string::npos) return false;
    std::istringstream rest(stat.substr(close + 1));
    char state;
    pid_t ppid = -1;
    rest >> state >> ppid;
    return ppid == parent;
  });
}

std::vector<std::string> fakeSshEnvironment() {
  struct Folder {
    std::filesystem::path path;
    Folder() {
      char name[] = "/tmp/kestrava-fake-ssh.XXXXXX";
      if (!mkdtemp(name)) return;
      path = name;
      std::filesystem::create_symlink(KESTRAVA_FAKE_SSH, path / "ssh");
    }
    ~Folder() {
      std::error_code ec;
      if (!path.empty()) std::filesystem::remove_all(path, ec);
    }
  };
  static const Folder folder;
  const char* path = std::getenv("PATH");
  return {"PATH=" + folder.path.string() + ":" + (path ? path : "/usr/bin:/bin"),
          std::string("KESTRAVA_FAKE_AGENT_PROGRAM=") + KESTRAVA_FAKE_AGENT_PROGRAM};
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

Outcome runProgram(const Launch& launch) {
  int outPipe[2], errPipe[2];
  EXPECT_EQ(pipe2(outPipe, O_CLOEXEC), 0);
  EXPECT_EQ(pipe2(errPipe, O_CLOEXEC), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  switch (launch.output) {
    case Launch::Output::Pipe:
      posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
      break;
    case Launch::Output::DevFull:
      posix_spawn_file_actions_addopen(&actions, 1, "/dev/full", O_WRONLY, 0);
      break;
    case Launch::Output::Closed:
      posix_spawn_file_actions_addclose(&actions, 1);
      break;
  }
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  std::vector<std::string> args{KESTRAVA_QUERY_PROGRAM};
  args.insert(args.end(), launch.args.begin(), launch.args.end());
  std::vector<std::string> env = environmentWith(launch.environment);
  auto argv = pointers(args);
  auto envp = pointers(env);
  Outcome outcome;
  const int spawned =
      posix_spawn(&outcome.pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << argv[0];
    close(outPipe[0]);
    close(errPipe[0]);
    return outcome;
  }
  const pid_t pid = outcome.pid;
  auto ready = launch.ready;
  if (!ready && launch.signal) ready = [&](pid_t p) { return blocksSignal(p, *launch.signal); };

  const auto start = std::chrono::steady_clock::now();
  bool signalled = !launch.signal;
  std::optional<std::chrono::steady_clock::time_point> readyAt;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&outcome.out, &outcome.err};
  int open = 2;
  while (open > 0) {
    const auto now = std::chrono::steady_clock::now();
    if (!signalled && !readyAt && ready(pid)) readyAt = now;
    if (!signalled && readyAt && now - *readyAt >= launch.signalAfter) {
      kill(pid, *launch.signal);
      signalled = true;
    }
    if (now - start > launch.limit) {
      ADD_FAILURE() << "kestrava-query did not end";
      kill(pid, SIGKILL);
      break;
    }
    if (poll(fds, 2, 10) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buf[4096];
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (auto& f : fds)
    if (f.fd >= 0) close(f.fd);
  int status = 0;
  waitpid(pid, &status, 0);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  outcome.killedBy = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return outcome;
}

}  // namespace kestrava::query::testing
