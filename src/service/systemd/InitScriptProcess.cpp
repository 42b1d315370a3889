#include "service/systemd/InitScriptProcess.h"

#include <sys/wait.h>

namespace kestrava::service {

namespace {

sys::ChildProcess::Options initScriptOptions(const std::string& script) {
  sys::ChildProcess::Options options;
  options.program = script;
  options.ownSession = true;
  // What `service` gives a script: a known PATH and locale, nothing of the caller's environment.
  options.environment = {"PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
                         "LANG=C"};
  return options;
}

}  // namespace

InitScriptProcess::InitScriptProcess(const std::string& script, const std::string& action)
    : process_({script, action}, initScriptOptions(script)) {}

std::optional<int> InitScriptProcess::waitUntil(std::chrono::steady_clock::time_point deadline) {
  const std::optional<int> status = process_.waitUntil(deadline);
  if (!status) return std::nullopt;
  return WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}

}  // namespace kestrava::service
