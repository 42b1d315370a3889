#include "query/ConnectionSharing.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>

#include "core/ClassSchema.h"
#include "remote/FdIo.h"
#include "remote/SshTransport.h"

namespace kestrava::query {

namespace {

constexpr auto kAskLimit = std::chrono::seconds(5);

struct SshReport {
  std::string config, debug;
};

// ssh -G -v: the configuration ssh would use for the computer, and its account of the files it
// read. Bounded; nullopt when ssh could not be asked.
std::optional<SshReport> askSsh(const std::string& computer, const std::string& sshProgram) {
  std::optional<sys::ChildProcess> ssh;
  try {
    ssh.emplace(remote::startSsh({sshProgram, "-G", "-v", "--", computer}));
  } catch (const std::system_error&) {
    return std::nullopt;
  }
  ::shutdown(ssh->stdio(), SHUT_WR);
  SshReport report;
  pollfd fds[2] = {{ssh->stdio(), POLLIN, 0}, {ssh->stderrFd(), POLLIN, 0}};
  std::string* sinks[2] = {&report.config, &report.debug};
  const auto deadline = std::chrono::steady_clock::now() + kAskLimit;
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    if (::poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) return std::nullopt;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !fds[i].revents) continue;
      char buffer[4096];
      const ssize_t n = remote::readSome(fds[i].fd, buffer, sizeof buffer);
      if (n > 0)
        sinks[i]->append(buffer, static_cast<size_t>(n));
      else
        fds[i].fd = -1;
    }
  }
  const auto status = ssh->waitFor(kAskLimit);
  if (!status || !WIFEXITED(*status) || WEXITSTATUS(*status) != 0) return std::nullopt;
  return report;
}

// The value ssh -G gives a keyword ("" when it gives none).
std::string valueOf(const std::string& config, const std::string& keyword) {
  std::istringstream lines(config);
  std::string line;
  while (std::getline(lines, line))
    if (line.rfind(keyword + " ", 0) == 0) return line.substr(keyword.size() + 1);
  return {};
}

std::vector<std::string> filesRead(const std::string& debug) {
  static const std::string marker = "debug1: Reading configuration data ";
  std::vector<std::string> files;
  std::istringstream lines(debug);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();  // ssh ends its messages so
    if (line.rfind(marker, 0) == 0) files.push_back(line.substr(marker.size()));
  }
  return files;
}

}  // namespace

bool mentionsConnectionSharing(const std::string& configText) {
  std::istringstream lines(configText);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string keyword;
    words >> keyword;
    keyword = keyword.substr(0, keyword.find('='));
    if (equalsIgnoreCase(keyword, "ControlMaster") || equalsIgnoreCase(keyword, "ControlPath"))
      return true;
  }
  return false;
}

std::string controlSocketFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string folder = runtime && *runtime ? std::string(runtime) + "/kestrava"
                                                 : "/tmp/kestrava-" + std::to_string(::getuid());
  ::mkdir(folder.c_str(), 0700);
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
      (st.st_mode & 077) != 0)
    return {};
  return folder;
}

std::vector<std::string> connectionSharingOptions(const std::string& computer, unsigned seconds,
                                                  const std::string& sshProgram) {
  if (seconds == 0) return {};
  const auto report = askSsh(computer, sshProgram);
  if (!report) return {};
  if (valueOf(report->config, "controlmaster") != "false" ||
      !valueOf(report->config, "controlpath").empty())
    return {};
  for (const auto& file : filesRead(report->debug)) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    if (mentionsConnectionSharing(text.str())) return {};
  }
  const std::string folder = controlSocketFolder();
  if (folder.empty()) return {};
  return {"-o", "ControlMaster=auto",
          "-o", "ControlPath=" + folder + "/%C",
          "-o", "ControlPersist=" + std::to_string(seconds)};
}

}  // namespace kestrava::query
