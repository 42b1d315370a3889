#include "remote/SshTransport.h"

#include <system_error>

#include "remote/ConnectErrors.h"

namespace kestrava::remote {

namespace {
// After its output has closed, ssh needs a moment to exit; a stuck one is killed and reaped.
constexpr auto kExitWait = std::chrono::milliseconds(3000);
// ssh itself ends a session whose server has not answered for about 20 s, even while idle.
constexpr const char* kServerAliveInterval = "ServerAliveInterval=5";
constexpr const char* kServerAliveCountMax = "ServerAliveCountMax=3";
constexpr auto kGrace = std::chrono::milliseconds(1000);
}  // namespace

sys::ChildProcess startSsh(const std::vector<std::string>& argv) {
  sys::ChildProcess::Options options;
  options.searchPath = true;
  options.ownSession = true;
  options.piped = true;
  options.grace = kGrace;
  return sys::ChildProcess(argv, options);
}

SshTransport::SshTransport(const std::string& computer, const std::string& sshProgram,
                           const std::vector<std::string>& sshOptions)
    : computer_(computer) {
  checkRemoteName(computer);
  std::vector<std::string> argv{
      sshProgram,          "-T", "-o", "BatchMode=yes", "-o", kServerAliveInterval, "-o",
      kServerAliveCountMax};
  argv.insert(argv.end(), sshOptions.begin(), sshOptions.end());
  argv.insert(argv.end(), {"--", computer, "kestrava-agent"});
  try {
    child_ = std::make_unique<sys::ChildProcess>(startSsh(argv));
  } catch (const std::system_error& e) {
    throw sshNotStarted(computer, e.code().value());
  }
}

ComError SshTransport::endedBeforeHello(const std::string& diagnostics) {
  auto status = child_->waitFor(kExitWait);
  if (!status) status = child_->kill();
  return sshEnded(computer_, *status, diagnostics);
}

std::string SshTransport::endReason(const std::string& diagnostics) {
  auto status = child_->waitFor(kExitWait);
  return sshEndReason(status, diagnostics);
}

}  // namespace kestrava::remote
