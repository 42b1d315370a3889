#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "sys/ChildProcess.h"

namespace kestrava::service {

// One init script run as `<script> <action>`: no shell, fixed arguments, a fixed environment,
// standard streams on /dev/null and a session of its own. When it has not ended by the time
// this object goes away, its whole process group is killed; it is always reaped.
class InitScriptProcess {
 public:
  // Throws std::system_error (with errno) when the script cannot be started.
  InitScriptProcess(const std::string& script, const std::string& action);

  // The exit code once the script has ended (-1 when a signal ended it); nullopt when it is
  // still running at the deadline.
  std::optional<int> waitUntil(std::chrono::steady_clock::time_point deadline);

 private:
  sys::ChildProcess process_;
};

}  // namespace kestrava::service
