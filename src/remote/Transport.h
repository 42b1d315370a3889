#pragma once

#include <string>

#include "core/ComError.h"

namespace kestrava::remote {

// The byte stream between a remote connection and one agent, and what it knows about why the
// stream ended. An ssh child process in production; a socket pair to an in-process agent in
// tests. The connection reads and writes the descriptors from its reader thread and callers'
// threads; it destroys the transport only after its reader thread has stopped.
class Transport {
 public:
  virtual ~Transport() = default;

  // Bytes from the agent are read here and bytes to it are written here (may be the same fd).
  virtual int inputFd() const = 0;
  virtual int outputFd() const = 0;
  // The carrier's own complaints (ssh's error output), or -1 when there is none.
  virtual int diagnosticsFd() const { return -1; }
  // The carrier's process id, or -1 when there is no process.
  virtual int processId() const { return -1; }

  // Why the stream ended before the agent said hello, from the carrier's exit and what it wrote
  // to diagnosticsFd (passed in). May wait briefly for the carrier to end.
  virtual ComError endedBeforeHello(const std::string& diagnostics) = 0;
  // Ends the carrier at once: nothing more is wanted from it (a connect that failed).
  virtual void abandon() {}
  // A short reason for a stream that ended after the hello ("ssh ended: ...").
  virtual std::string endReason(const std::string& diagnostics) = 0;
};

}  // namespace kestrava::remote
