#pragma once

#include <cstdint>
#include <string>

namespace kestrava::service::linuxsys {

// A moment as CIM datetime text, "yyyymmddHHMMSS.mmmmmm+UUU": the local wall-clock time at the
// given offset from UTC (minutes, sign included, three digits).
std::string cimDateTime(int64_t unixSeconds, int32_t microseconds, int offsetMinutes);

// The local time zone's offset from UTC, in minutes, at that moment (daylight saving included).
int localOffsetMinutes(int64_t unixSeconds);

// The moment in the local time zone, with the offset in force at that moment.
std::string cimLocalDateTime(int64_t unixSeconds, int32_t microseconds = 0);

}  // namespace kestrava::service::linuxsys
