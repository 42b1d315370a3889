#include "service/linux/ProcStat.h"

#include <array>
#include <charconv>

namespace kestrava::service::linuxsys {

namespace {
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

template <class T>
bool toNumber(std::string_view s, T& out) {
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && p == s.data() + s.size();
}
}  // namespace

std::optional<ProcStat> parseProcStat(std::string_view text) {
  size_t open = text.find('(');
  size_t close = text.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open)
    return std::nullopt;
  ProcStat s;
  std::string_view head = text.substr(0, open);
  while (!head.empty() && head.back() == ' ') head.remove_suffix(1);
  if (!toNumber(head, s.pid)) return std::nullopt;
  s.comm.assign(text.substr(open + 1, close - open - 1));
  std::array<std::string_view, 22> f;  // f[k] is field k + 3
  if (splitFields(text.substr(close + 1), f) < 22) return std::nullopt;
  if (f[0].size() != 1) return std::nullopt;
  s.state = f[0][0];
  bool ok = toNumber(f[1], s.ppid) && toNumber(f[3], s.session) && toNumber(f[6], s.flags) &&
            toNumber(f[7], s.minflt) && toNumber(f[9], s.majflt) && toNumber(f[11], s.utime) &&
            toNumber(f[12], s.stime) && toNumber(f[15], s.priority) && toNumber(f[16], s.nice) &&
            toNumber(f[17], s.numThreads) && toNumber(f[19], s.startTime) &&
            toNumber(f[20], s.vsize) && toNumber(f[21], s.rss);
  if (!ok) return std::nullopt;
  return s;
}

}  // namespace kestrava::service::linuxsys
