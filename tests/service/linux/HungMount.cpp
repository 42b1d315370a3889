#include "service/linux/HungMount.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>

namespace kestrava::testing {

namespace {
constexpr int kCannotSetUp = 77;

bool writeFile(const char* path, const std::string& text) {
  const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return ok;
}

// In the child: a mount namespace of its own, then the FUSE mount whose device nobody reads.
// Returns the device, or -1 with the failing step in reason.
int mountHung(const std::string& mountPoint, std::string& reason) {
  const uid_t uid = ::geteuid();
  const gid_t gid = ::getegid();
  const auto fail = [&](const char* step) {
    reason = std::string(step) + ": " + std::strerror(errno);
    return -1;
  };
  if (uid == 0) {
    if (::unshare(CLONE_NEWNS) != 0) return fail("unshare");
  } else {
    // Without root: a user namespace of its own, in which this user is root.
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return fail("unshare");
    if (!writeFile("/proc/self/setgroups", "deny") ||
        !writeFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !writeFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
      return fail("id maps");
  }
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return fail("private");
  const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
  if (fd < 0) return fail("/dev/fuse");
  const std::string options = "fd=" + std::to_string(fd) +
                              ",rootmode=40000,user_id=" + std::to_string(::geteuid()) +
                              ",group_id=" + std::to_string(::getegid());
  if (::mount("kestrava-hang", mountPoint.c_str(), "fuse.kestrava-hang", MS_NOSUID | MS_NODEV,
              options.c_str()) != 0)
    return fail("mount");
  return fd;
}

std::map<std::string, std::string> parseFacts(const std::string& text) {
  std::map<std::string, std::string> facts;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    if (auto eq = line.find('='); eq != std::string::npos)
      facts[line.substr(0, eq)] = line.substr(eq + 1);
  return facts;
}
}  // namespace

HungMountRun runBesideHungMount(
    const std::string& mountPoint,
    const std::function<void(int fuseFd, std::map<std::string, std::string>& facts)>& body,
    std::chrono::seconds timeout) {
  HungMountRun run;
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return run;
  const pid_t pid = ::fork();
  if (pid < 0) return run;
  if (pid == 0) {
    ::close(out[0]);
    std::string reason;
    const int fuseFd = mountHung(mountPoint, reason);
    std::string text;
    int code = 0;
    if (fuseFd < 0) {
      text = "reason=" + reason + "\n";
      code = kCannotSetUp;
    } else {
      std::map<std::string, std::string> facts;
      body(fuseFd, facts);
      for (const auto& [name, value] : facts) text += name + "=" + value + "\n";
    }
    for (size_t done = 0; done < text.size();) {
      const ssize_t n = ::write(out[1], text.data() + done, text.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    ::_exit(code);  // its threads stuck on the mount end with it, and so does the mount
  }
  ::close(out[1]);
  std::string text;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  bool ended = false;
  while (!ended) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{out[0], POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[4096];
    const ssize_t n = ::read(out[0], buffer, sizeof buffer);
    if (n > 0)
      text.append(buffer, static_cast<size_t>(n));
    else if (n == 0 || errno != EINTR)
      ended = true;
  }
  ::close(out[0]);
  if (!ended) ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  run.facts = parseFacts(text);
  if (!ended)
    run.outcome = HungMountRun::Outcome::TimedOut;
  else if (WIFEXITED(status) && WEXITSTATUS(status) == kCannotSetUp)
    run.outcome = HungMountRun::Outcome::CannotSetUp;
  else if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
    run.outcome = HungMountRun::Outcome::Finished;
  run.reason = run.facts["reason"];
  return run;
}

}  // namespace kestrava::testing
