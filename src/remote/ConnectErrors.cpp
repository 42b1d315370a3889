#include "remote/ConnectErrors.h"

#include <sys/wait.h>

#include <cstring>
#include <vector>

#include "remote/Message.h"

namespace kestrava::remote {

namespace {

constexpr const char* kLocator = "SWbemLocator";
constexpr const char* kServices = "SWbemServicesEx";
constexpr size_t kMaxNameLength = 320;
constexpr size_t kMaxQuoted = 160;

bool isNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::strchr("._-@:%+", c) != nullptr;
}

bool contains(std::string_view haystack, std::string_view needle) {
  return haystack.find(needle) != std::string_view::npos;
}

// Printable ASCII kept, everything else as \xNN, cut at a readable length.
std::string escaped(std::string_view text, size_t limit = kMaxQuoted) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : text.substr(0, limit)) {
    auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7f) {
      out += c;
    } else {
      out += "\\x";
      out += hex[u >> 4];
      out += hex[u & 15];
    }
  }
  if (text.size() > limit) out += "...";
  return out;
}

// The last line of ssh's error output that says something: ssh ends with its verdict.
std::string lastLine(std::string_view text) {
  std::string_view best;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    auto line = text.substr(start, end - start);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    if (!line.empty()) best = line;
    start = end + 1;
  }
  return escaped(best);
}

ComError invalidName(std::string_view computer, const std::string& why) {
  return ComError(err::kWbemInvalidParameter,
                  "The computer name " + displayName(computer) + " " + why +
                      "; Kestrava did not try to reach it. ",
                  kLocator);
}

std::string withSsh(std::string_view sshErrors) {
  auto line = lastLine(sshErrors);
  if (line.rfind("ssh: ", 0) == 0) line.erase(0, 5);
  while (!line.empty() && line.back() == '.') line.pop_back();
  return line.empty() ? std::string() : " (ssh: " + line + ")";
}

std::string durationText(std::chrono::milliseconds limit) {
  return limit.count() % 1000 == 0 ? std::to_string(limit.count() / 1000) + " seconds"
                                   : std::to_string(limit.count()) + " milliseconds";
}

ComError unreachable(const std::string& what, std::string_view sshErrors) {
  return ComError(err::kRpcServerUnavailable, what + withSsh(sshErrors) + ". ", kLocator);
}

// What ssh's exit status and error output mean, first match first. 127 and 126 come from the far
// side's shell; ssh's own failures exit with 255. {name} is the quoted computer name, {ssh} ssh's
// last words in parentheses, {status} the exit status.
struct SshVerdict {
  int status;          // the exit status it applies to, or kAnyStatus
  const char* marker;  // what ssh's error output holds, or nullptr for anything
  int32_t number;
  const char* text;
};
constexpr int kAnyStatus = -1;
constexpr SshVerdict kSshVerdicts[] = {
    {127, nullptr, err::kRpcServerUnavailable,
     "Kestrava's agent is not installed on {name}: the command kestrava-agent was not found on the "
     "PATH of the login there. Install the package kestrava-agent on that computer. "},
    {126, nullptr, err::kRpcServerUnavailable,
     "kestrava-agent on {name} cannot be run (it is not executable){ssh}. "},
    {255, "Could not resolve hostname", err::kRpcServerUnavailable,
     "The computer {name} is unknown: its name could not be resolved to an address{ssh}. "},
    {255, "Connection refused", err::kRpcServerUnavailable,
     "{name} refused the connection: no SSH server is listening there{ssh}. "},
    {255, "timed out", err::kRpcServerUnavailable,
     "{name} did not answer: the connection timed out{ssh}. "},
    {255, "not responding", err::kRpcServerUnavailable,
     "{name} stopped answering: ssh heard nothing from it for about 20 seconds{ssh}. "},
    {255, "No route to host", err::kRpcServerUnavailable,
     "{name} cannot be reached over the network{ssh}. "},
    {255, "Network is unreachable", err::kRpcServerUnavailable,
     "{name} cannot be reached over the network{ssh}. "},
    {255, "REMOTE HOST IDENTIFICATION HAS CHANGED", err::kWbemAccessDenied,
     "The host key of {name} has changed since it was recorded in known_hosts, so ssh refused to "
     "connect. If the change is expected, remove the old key with ssh-keygen -R and connect once "
     "with ssh to accept the new one. "},
    {255, "Host key verification failed", err::kWbemAccessDenied,
     "The host key of {name} is not known yet, and Kestrava cannot ask about it. Connect once with "
     "ssh to check and accept it. "},
    {255, "Permission denied", err::kWbemAccessDenied,
     "{name} refused the login: authentication failed{ssh}. Kestrava logs in with your own ssh "
     "keys and configuration and never asks for a password. "},
    {255, "Too many authentication", err::kWbemAccessDenied,
     "{name} refused the login: authentication failed{ssh}. Kestrava logs in with your own ssh "
     "keys and configuration and never asks for a password. "},
    {255, nullptr, err::kRpcServerUnavailable, "ssh could not connect to {name}{ssh}. "},
    {kAnyStatus, nullptr, err::kRpcServerUnavailable,
     "The agent on {name} ended without answering (exit status {status}){ssh}. "},
};

void replaceAll(std::string& text, std::string_view from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

}  // namespace

std::string displayName(std::string_view computer) {
  return "\"" + escaped(computer) + "\"";
}

void checkRemoteName(std::string_view computer) {
  if (computer.empty()) throw invalidName(computer, "is empty");
  if (computer.size() > kMaxNameLength) throw invalidName(computer, "is too long");
  if (computer[0] == '-')
    throw invalidName(computer, "begins with \"-\", which ssh would read as an option");
  for (char c : computer) {
    auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7f) throw invalidName(computer, "holds a blank or a control character");
    if (!isNameChar(c))
      throw invalidName(computer, "holds " + escaped(std::string_view(&c, 1)) +
                                      ", which is no part of a host name, an ssh alias or "
                                      "user@host");
  }
  auto at = computer.find('@');
  if (at != std::string_view::npos) {
    auto host = computer.substr(at + 1);
    if (at == 0 || host.empty() || host[0] == '-' || host.find('@') != std::string_view::npos)
      throw invalidName(computer, "is not of the form user@host");
  }
}

ComError sshNotStarted(const std::string& computer, int errnum) {
  if (errnum == ENOENT)
    return ComError(err::kRpcServerUnavailable,
                    "The ssh program was not found on PATH, so Kestrava cannot reach " +
                        displayName(computer) + "; install the OpenSSH client. ",
                    kLocator);
  return ComError(err::kRpcServerUnavailable,
                  "ssh could not be started to reach " + displayName(computer) + ": " +
                      std::strerror(errnum) + ". ",
                  kLocator);
}

ComError sshEnded(const std::string& computer, int waitStatus, std::string_view sshErrors) {
  const std::string name = displayName(computer);
  if (WIFSIGNALED(waitStatus))
    return unreachable("ssh ended by signal " + std::to_string(WTERMSIG(waitStatus)) +
                           " before the agent on " + name + " answered",
                       sshErrors);
  const int status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
  for (const auto& verdict : kSshVerdicts) {
    if (verdict.status != kAnyStatus && verdict.status != status) continue;
    if (verdict.marker && !contains(sshErrors, verdict.marker)) continue;
    std::string text = verdict.text;
    replaceAll(text, "{name}", name);
    replaceAll(text, "{ssh}", withSsh(sshErrors));
    replaceAll(text, "{status}", std::to_string(status));
    return ComError(verdict.number, text, kLocator);
  }
  // Not reached: the table's last row takes any status.
  return unreachable("ssh could not connect to " + name, sshErrors);
}

std::string sshEndReason(std::optional<int> waitStatus, std::string_view sshErrors) {
  std::string reason = "the agent or ssh ended";
  if (waitStatus && WIFEXITED(*waitStatus))
    reason += " (exit status " + std::to_string(WEXITSTATUS(*waitStatus)) + ")";
  else if (waitStatus && WIFSIGNALED(*waitStatus))
    reason += " (signal " + std::to_string(WTERMSIG(*waitStatus)) + ")";
  return reason + withSsh(sshErrors);
}

ComError agentTalksGarbage(const std::string& computer, std::string_view firstBytes,
                           const std::string& detail) {
  return ComError(err::kWbemTransportFailure,
                  "The program that ran as kestrava-agent on " + displayName(computer) +
                      " does not speak Kestrava's protocol (" + detail + "); it began with \"" +
                      escaped(firstBytes, 60) +
                      "\". A login script that prints text, or another program of that name, "
                      "causes this. ",
                  kLocator);
}

ComError versionMismatch(const std::string& computer, int64_t agentVersion,
                         const std::string& agentProgramVersion) {
  const char* verdict = agentVersion < kProtocolVersion ? "is too old" : "is newer than this one";
  return ComError(err::kWbemNotSupported,
                  "The agent on " + displayName(computer) + " " + verdict +
                      ": it speaks protocol version " + std::to_string(agentVersion) + " (agent " +
                      escaped(agentProgramVersion, 40) + "), this Kestrava speaks version " +
                      std::to_string(kProtocolVersion) + " (" + KESTRAVA_VERSION +
                      "). Install the same Kestrava version on both "
                      "computers. ",
                  kLocator);
}

ComError agentRefused(const std::string& computer, const ComError& agentError) {
  return ComError(agentError.number(),
                  "The agent on " + displayName(computer) +
                      " could not open the management service there: " + agentError.description(),
                  kLocator);
}

ComError agentEndedEarly(const std::string& computer, const std::string& reason) {
  return ComError(
      err::kRpcServerUnavailable,
      "The agent on " + displayName(computer) + " ended before it was ready: " + reason + ". ",
      kLocator);
}

ComError handshakeTimedOut(const std::string& computer, std::chrono::milliseconds limit) {
  return ComError(err::kRpcServerUnavailable,
                  displayName(computer) + " did not answer within " + durationText(limit) +
                      ": neither ssh nor the agent replied, so Kestrava gave up. ",
                  kLocator);
}

ComError connectionLost(const std::string& computer, const std::string& reason) {
  return ComError(err::kRpcServerUnavailable,
                  "The connection to " + displayName(computer) + " was lost: " + reason +
                      ". Connect again to go on. ",
                  kServices);
}

ComError noAnswer(const std::string& computer, const std::string& what,
                  std::chrono::milliseconds limit) {
  return ComError(err::kRpcServerUnavailable,
                  displayName(computer) + " did not answer within " + durationText(limit) +
                      ": nothing came back after " + what +
                      ", not even word that the agent was still working. The network or the "
                      "computer may be down; Kestrava gave the connection up. Connect again to "
                      "go on. ",
                  kServices);
}

ComError requestNotTakenIn(const std::string& computer, const std::string& what,
                           std::chrono::milliseconds limit) {
  return ComError(err::kRpcServerUnavailable,
                  displayName(computer) + " took in nothing for " + durationText(limit) +
                      " while Kestrava sent " + what +
                      ". The network or the computer may be down; Kestrava gave the connection "
                      "up. Connect again to go on. ",
                  kServices);
}

ComError messageNotHandled(const std::string& computer, const std::string& what) {
  return connectionLost(
      computer, "Kestrava could not take in a message from the agent (" + escaped(what, 80) + ")");
}

ComError connectionReleased(const std::string& computer) {
  return ComError(err::kRpcServerUnavailable,
                  "The connection to " + displayName(computer) +
                      " was closed before this call; connect again. ",
                  kServices);
}

}  // namespace kestrava::remote
