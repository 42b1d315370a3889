#pragma once

#include <memory>
#include <string>

#include "core/Connection.h"

namespace kestrava::remote::testing {

// The fake agent's services for kestrava-query's tests and benchmarks, by mode:
//   "fleet"    a query gives KESTRAVA_FAKE_OBJECTS objects (default 3) of Kestrava_Fake
//              (Name, Origin, Index, Blob), the first after KESTRAVA_FAKE_DELAY_MS (default 0), with
//              Origin = KESTRAVA_FAKE_COMPUTER and Blob KESTRAVA_FAKE_BLOB_BYTES long; a query
//              that holds "Fail" fails; --call returns "done on COMPUTER"; a watch gets an event
//              every 100 ms, and after KESTRAVA_FAKE_DROP_AFTER events (if set) the agent ends
//   "escapes"  the same, with terminal escape sequences in the class, property names, values,
//              error text and return value
//   "hang"     a query gives one object, then nothing: the agent reads no more input and ends
//              only once its output is closed on the far end (at most a minute)
// nullptr for any other mode.
std::unique_ptr<Connection> openFakeService(const std::string& mode);

}  // namespace kestrava::remote::testing
