#pragma once

#include <functional>
#include <ostream>
#include <string>

#include "core/ComError.h"
#include "core/Connection.h"
#include "query/CommandLine.h"

namespace kestrava::query {

// What kestrava-query does once its command line is read, with everything outside passed in so
// tests can drive it: how to connect, where output and errors go, how a watch waits to be
// stopped, and the clock that stamps events. Returns the exit status: 0 done, 1 the service
// reported an error (written to err as its description and number).
struct QueryToolContext {
  ConnectionFactory connect;
  std::ostream& out;
  std::ostream& err;
  std::function<void()> waitForStop;       // returns when a watch is to end
  std::function<std::string()> timestamp;  // the time printed with each event
};

int runQueryTool(const CommandLine& cmd, QueryToolContext& context);

// "Invalid query (0x80041017, -2147217385)".
std::string describeError(const ComError& error);

}  // namespace kestrava::query
