#pragma once

#include <memory>
#include <string>

#include "remote/Transport.h"
#include "sys/ChildProcess.h"

namespace kestrava::remote {

// ssh as every connection and kestrava-query run it: looked up on PATH, in a session of its own
// (so it never reads a terminal), its standard input and output on stdio() and its error output
// on stderrFd(); given a second to end once our ends close, and another after SIGTERM.
// Throws std::system_error carrying errno when it cannot be started.
sys::ChildProcess startSsh(const std::vector<std::string>& argv);

// The stream to kestrava-agent on another computer, through the system's ssh found on PATH:
//   ssh -T -o BatchMode=yes -o ServerAliveInterval=5 -o ServerAliveCountMax=3 [OPTIONS] -- NAME
//   kestrava-agent
// run without a shell, so user, port, keys and jump hosts come from the user's own ssh
// configuration, no terminal is ever asked for a password, and a network that dies is noticed.
class SshTransport final : public Transport {
 public:
  // Checks the name (see checkRemoteName) before anything runs, then starts ssh. Throws ComError.
  // sshProgram is "ssh" except in tests; sshOptions go before the "--" (e.g. "-o", "X=y").
  SshTransport(const std::string& computer, const std::string& sshProgram = "ssh",
               const std::vector<std::string>& sshOptions = {});

  int inputFd() const override { return child_->stdio(); }
  int outputFd() const override { return child_->stdio(); }
  int diagnosticsFd() const override { return child_->stderrFd(); }
  int processId() const override { return child_->pid(); }
  ComError endedBeforeHello(const std::string& diagnostics) override;
  std::string endReason(const std::string& diagnostics) override;
  void abandon() override { child_->kill(); }

 private:
  std::string computer_;
  std::unique_ptr<sys::ChildProcess> child_;
};

}  // namespace kestrava::remote
