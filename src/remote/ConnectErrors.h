#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/ComError.h"

namespace kestrava::remote {

// Every error of reaching a remote computer, worded once, in plain words. Connect failures carry
// the source "SWbemLocator"; failures of a later operation carry "SWbemServicesEx".

// A computer name fit to hand to ssh: not an option ("-..."), no blanks or control characters,
// only what host names, ssh aliases and user@host hold. Throws ComError when it is not.
void checkRemoteName(std::string_view computer);

// A name as it appears in a message: quoted, with control characters and non-ASCII bytes escaped.
std::string displayName(std::string_view computer);

// ssh could not be started at all (errno).
ComError sshNotStarted(const std::string& computer, int errnum);
// ssh (or the far side's shell) ended before the agent said hello: classified from ssh's wait
// status and its error output, the one place where ssh's exit and messages are interpreted.
ComError sshEnded(const std::string& computer, int waitStatus, std::string_view sshErrors);
// Why an established connection's ssh ended, as a short clause.
std::string sshEndReason(std::optional<int> waitStatus, std::string_view sshErrors);

// The far side answered, but not in the protocol: firstBytes is what it sent.
ComError agentTalksGarbage(const std::string& computer, std::string_view firstBytes,
                           const std::string& detail);
// The agent speaks another protocol version.
ComError versionMismatch(const std::string& computer, int64_t agentVersion,
                         const std::string& agentProgramVersion);
// The agent answered but could not open the management service there.
ComError agentRefused(const std::string& computer, const ComError& agentError);
// The agent said hello but ended before it was ready.
ComError agentEndedEarly(const std::string& computer, const std::string& reason);
// Nothing came back within the connect's time limit.
ComError handshakeTimedOut(const std::string& computer, std::chrono::milliseconds limit);

// An established connection that ended or broke; every later call fails with this.
ComError connectionLost(const std::string& computer, const std::string& reason);
// Nothing at all came from the far side for `limit` after a request (`what`: "the query
// \"...\""): no answer, and no word that the agent was still working.
ComError noAnswer(const std::string& computer, const std::string& what,
                  std::chrono::milliseconds limit);
// The far side took in none of a request's bytes for `limit`.
ComError requestNotTakenIn(const std::string& computer, const std::string& what,
                           std::chrono::milliseconds limit);
// The client could not take in a message of the agent (out of memory, say); what says why.
ComError messageNotHandled(const std::string& computer, const std::string& what);
// A call made after the connection was released (a query result kept past its connection).
ComError connectionReleased(const std::string& computer);

}  // namespace kestrava::remote
