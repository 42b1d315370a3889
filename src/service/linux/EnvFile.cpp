#include "service/linux/EnvFile.h"

#include "service/linux/FileAccess.h"

namespace kestrava::service::linuxsys {

namespace {
bool validKey(std::string_view k) {
  if (k.empty()) return false;
  for (char c : k)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'))
      return false;
  return true;
}

// The value after '=': quoted forms lose their quotes, \" \\ \$ \` in double quotes unescape.
std::string unquote(std::string_view v) {
  std::string out;
  if (v.size() >= 2 && v.front() == '\'' && v.back() == '\'')
    return std::string(v.substr(1, v.size() - 2));
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') {
    v = v.substr(1, v.size() - 2);
    for (size_t i = 0; i < v.size(); ++i) {
      if (v[i] == '\\' && i + 1 < v.size() &&
          std::string_view("\"\\$`").find(v[i + 1]) != std::string_view::npos)
        ++i;
      out.push_back(v[i]);
    }
    return out;
  }
  return std::string(v);
}
}  // namespace

std::map<std::string, std::string, std::less<>> parseEnvFile(std::string_view text) {
  std::map<std::string, std::string, std::less<>> out;
  while (!text.empty()) {
    size_t nl = text.find('\n');
    std::string_view line = trimSpace(text.substr(0, nl));
    text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
    if (line.empty() || line.front() == '#') continue;
    if (line.starts_with("export ")) line = trimSpace(line.substr(7));
    size_t eq = line.find('=');
    if (eq == std::string_view::npos || !validKey(line.substr(0, eq))) continue;
    out[std::string(line.substr(0, eq))] = unquote(trimSpace(line.substr(eq + 1)));
  }
  return out;
}

}  // namespace kestrava::service::linuxsys
