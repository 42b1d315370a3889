#pragma once

#include <chrono>

namespace kestrava::remote {

// How long a remote connection waits for the far side before it gives up with an error.
struct RemoteLimits {
  // The connect fails when the agent is not ready within this time (a silent peer).
  std::chrono::milliseconds handshake{30000};
  // A call fails, and the connection with it, when nothing at all has come from the far side for
  // this long: no answer, no object, no word that the agent is still working. A slow agent says so
  // every FrameWriter::kBusyInterval, so only a dead network or a hung agent reaches this.
  std::chrono::milliseconds silence{15000};
};

}  // namespace kestrava::remote
