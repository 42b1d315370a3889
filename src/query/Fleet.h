#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/ComError.h"
#include "core/Connection.h"

namespace kestrava::query {

// What one computer answered: its objects, and the error that ended the asking, if one did
// (objects that came before it stay).
struct FleetAnswer {
  std::vector<ManagementObject> objects;
  std::optional<ComError> error;
  SchemaPtr schema;  // the objects' schema where the service tells it, even of no object
};

// Asks many computers the same thing, each over a connection of its own, at most `parallel`
// at once, and hands their answers to `print` one computer at a time, in the order named, on
// the calling thread. A computer's answer waits for those named before it; at most `parallel`
// answers wait so, so memory grows with `parallel`, not with the number of computers. When print
// returns false nothing more is asked. Connect failures are answers too.
void askFleet(const std::vector<std::string>& computers, unsigned parallel,
              const ConnectionFactory& connect,
              const std::function<void(Connection&, FleetAnswer&)>& ask,
              const std::function<bool(const std::string& computer, FleetAnswer&)>& print);

// Runs job(index) for every index below count on at most `parallel` threads at once; returns
// when all have. job must not throw.
void forEachInParallel(size_t count, unsigned parallel, const std::function<void(size_t)>& job);

}  // namespace kestrava::query
