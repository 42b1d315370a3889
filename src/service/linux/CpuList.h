#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kestrava::service::linuxsys {

// A kernel CPU list such as "0-3,8,10-11" (sysfs present and online files), in ascending order;
// nullopt when malformed. At most kMaxCpus numbers.
std::optional<std::vector<int64_t>> parseCpuList(std::string_view text);

}  // namespace kestrava::service::linuxsys
