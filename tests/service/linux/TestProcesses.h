#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "sys/ChildProcess.h"

namespace kestrava::testing {

// Runs path with argv (argv[0] included) on /dev/null; killed and reaped when it goes.
sys::ChildProcess startProgram(const std::string& path, const std::vector<std::string>& argv);

// Waits (at most timeoutMs) until /proc/<pid>/comm reads as expected and the exec is through:
// the kernel names the process before it lays out the new command line, which reads empty until
// then.
bool waitForComm(pid_t pid, const std::string& comm, int timeoutMs = 5000);

// Runs fn in a forked child with the identity of the user nobody (65534) when the test runs as
// root, else with the test's own identity; fn's result is the child's exit status (0 to 255), or
// -1 when the child died otherwise.
int runUnprivileged(const std::function<int()>& fn);

}  // namespace kestrava::testing
