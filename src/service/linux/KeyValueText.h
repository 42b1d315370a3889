#pragma once

#include <string_view>

namespace kestrava::service::linuxsys {

// Calls fn(key, value) for each line "key<sep>value" of text, both trimmed of blanks; lines
// without the separator are passed over. The shape of /proc/<pid>/status, io and /proc/meminfo.
template <class Fn>
void forEachKeyValue(std::string_view text, char sep, Fn&& fn) {
  while (!text.empty()) {
    size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
    size_t colon = line.find(sep);
    if (colon == std::string_view::npos) continue;
    std::string_view key = line.substr(0, colon);
    std::string_view value = line.substr(colon + 1);
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.remove_suffix(1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
      value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
      value.remove_suffix(1);
    fn(key, value);
  }
}

}  // namespace kestrava::service::linuxsys
