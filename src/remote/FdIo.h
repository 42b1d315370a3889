#pragma once

#include <sys/types.h>

#include <chrono>
#include <string_view>

namespace kestrava::remote {

// Writes all of data, retrying short writes and interruptions. A socket is written with
// MSG_NOSIGNAL, so a peer that has gone yields false instead of killing the process with SIGPIPE.
bool writeAll(int fd, std::string_view data);

enum class WriteResult { kWritten, kFailed, kTimedOut };

// writeAll, giving up at the deadline while the peer takes nothing in. Only a socket can be
// written this way; any other descriptor is written as writeAll does.
WriteResult writeAllBefore(int fd, std::string_view data,
                           std::chrono::steady_clock::time_point deadline);

// One read, retried on interruption: the byte count, 0 at the end of the stream, -1 on error.
ssize_t readSome(int fd, char* buffer, size_t size);

}  // namespace kestrava::remote
