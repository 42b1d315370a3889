#pragma once

#include <map>
#include <string>
#include <string_view>

namespace kestrava::service::linuxsys {

// Assignments KEY=value of a shell-like file: /etc/os-release, /etc/machine-info,
// /etc/locale.conf, /etc/default/locale. Values may be double-quoted (with backslash escapes),
// single-quoted or bare; comments and malformed lines are passed over.
std::map<std::string, std::string, std::less<>> parseEnvFile(std::string_view text);

}  // namespace kestrava::service::linuxsys
