#pragma once

#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "core/ComError.h"
#include "core/Connection.h"
#include "query/CommandLine.h"

namespace kestrava::query {

// What kestrava-query does once its command line is read, with everything outside passed in so
// tests can drive it: how to connect, where output and errors go, how a watch waits to be
// stopped, and the clock that stamps events. Returns the exit status: 0 done, 1 the service
// reported an error (written to err as its description and number) or the output could not be
// written.
struct QueryToolContext {
  ConnectionFactory connect;
  std::ostream& out;
  std::ostream& err;
  // Waits at most the given time for the user to end a watch; true when they have.
  std::function<bool(std::chrono::milliseconds)> waitForStop;
  std::function<std::string()> timestamp;  // the time printed with each event
  // Why out failed ("No space left on device"); unset, the message names no reason.
  std::function<std::string()> outputFailure = {};
};

// Asks the computers (see computerNames) what the command line says. With one computer, the
// output is as that computer's alone; with namesComputers(), every row, return value and event
// begins with its computer, and the status is 1 when any computer failed. A --call that returns
// a number other than 0 has status 1. Throws UsageError for a --sort property that the query's
// objects lack, before printing any of them.
int runQueryTool(const CommandLine& cmd, const std::vector<std::string>& computers,
                 QueryToolContext& context);

// Flushes the output; when it could not be written, says so on err and returns 1, else status.
int checkOutput(int status, QueryToolContext& context);

// "Invalid query (0x80041017, -2147217385)".
std::string describeError(const ComError& error);

}  // namespace kestrava::query
