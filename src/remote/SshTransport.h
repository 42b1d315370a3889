#pragma once

#include <memory>
#include <string>

#include "remote/ChildProcess.h"
#include "remote/Transport.h"

namespace kestrava::remote {

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
  std::unique_ptr<ChildProcess> child_;
};

}  // namespace kestrava::remote
