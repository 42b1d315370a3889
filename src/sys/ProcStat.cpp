#include "sys/ProcStat.h"

#include <array>
#include <charconv>

namespace kestrava::sys {

namespace {

template <class T>
bool toNumber(std::string_view s, T& out) {
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && p == s.data() + s.size();
}

// The line cut at its command name, which may itself hold blanks and parentheses.
struct Head {
  int64_t pid = 0;
  std::string_view comm;
  std::string_view rest;  // after the name's ')': " S 1 ..." on a good line
};

std::optional<Head> splitHead(std::string_view text) {
  const size_t open = text.find('(');
  const size_t close = text.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open)
    return std::nullopt;
  Head head;
  std::string_view pid = text.substr(0, open);
  while (!pid.empty() && pid.back() == ' ') pid.remove_suffix(1);
  if (!toNumber(pid, head.pid)) return std::nullopt;
  head.comm = text.substr(open + 1, close - open - 1);
  head.rest = text.substr(close + 1);
  return head;
}

// Field 3 is one letter, one blank after the name.
std::optional<char> stateOf(std::string_view rest) {
  if (rest.size() < 2 || rest[0] != ' ') return std::nullopt;
  const char state = rest[1];
  if (!((state >= 'A' && state <= 'Z') || (state >= 'a' && state <= 'z'))) return std::nullopt;
  if (rest.size() > 2 && rest[2] != ' ' && rest[2] != '\n') return std::nullopt;
  return state;
}

// Splits the space-separated fields after the command name, from field 3 on.
size_t splitFields(std::string_view rest, std::array<std::string_view, 22>& out) {
  size_t n = 0;
  size_t i = 0;
  while (n < out.size()) {
    while (i < rest.size() && rest[i] == ' ') ++i;
    if (i >= rest.size() || rest[i] == '\n') break;
    size_t j = rest.find_first_of(" \n", i);
    if (j == std::string_view::npos) j = rest.size();
    out[n++] = rest.substr(i, j - i);
    i = j;
  }
  return n;
}

}  // namespace

std::optional<ProcStat> parseProcStat(std::string_view text) {
  const std::optional<Head> head = splitHead(text);
  if (!head) return std::nullopt;
  const std::optional<char> state = stateOf(head->rest);
  if (!state) return std::nullopt;
  ProcStat s;
  s.pid = head->pid;
  s.comm.assign(head->comm);
  s.state = *state;
  std::array<std::string_view, 22> f;  // f[k] is field k + 3
  if (splitFields(head->rest, f) < 22) return std::nullopt;
  bool ok = toNumber(f[1], s.ppid) && toNumber(f[3], s.session) && toNumber(f[6], s.flags) &&
            toNumber(f[7], s.minflt) && toNumber(f[9], s.majflt) && toNumber(f[11], s.utime) &&
            toNumber(f[12], s.stime) && toNumber(f[15], s.priority) && toNumber(f[16], s.nice) &&
            toNumber(f[17], s.numThreads) && toNumber(f[19], s.startTime) &&
            toNumber(f[20], s.vsize) && toNumber(f[21], s.rss);
  if (!ok) return std::nullopt;
  return s;
}

std::optional<char> parseProcState(std::string_view text) {
  const std::optional<Head> head = splitHead(text);
  return head ? stateOf(head->rest) : std::nullopt;
}

}  // namespace kestrava::sys
