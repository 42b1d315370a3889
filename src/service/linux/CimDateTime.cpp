#include "service/linux/CimDateTime.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace kestrava::service::linuxsys {

namespace {
struct CivilDate {
  int64_t year;
  unsigned month, day;
};

// Days since 1970-01-01 to a proleptic Gregorian date (Howard Hinnant's civil_from_days).
CivilDate civilFromDays(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {y + (m <= 2), m, d};
}

int64_t floorDiv(int64_t a, int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}
}  // namespace

std::string cimDateTime(int64_t unixSeconds, int32_t microseconds, int offsetMinutes) {
  if (microseconds < 0 || microseconds > 999999) microseconds = 0;
  if (offsetMinutes < -999 || offsetMinutes > 999) offsetMinutes = 0;
  const int64_t local = unixSeconds + int64_t{offsetMinutes} * 60;
  const int64_t days = floorDiv(local, 86400);
  const int64_t secs = local - days * 86400;
  const CivilDate date = civilFromDays(days);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04lld%02u%02u%02d%02d%02d.%06d%c%03d",
                static_cast<long long>(date.year), date.month, date.day,
                static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60),
                static_cast<int>(secs % 60), microseconds, offsetMinutes < 0 ? '-' : '+',
                std::abs(offsetMinutes));
  return buf;
}

int localOffsetMinutes(int64_t unixSeconds) {
  std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm tm{};
  if (!::localtime_r(&t, &tm)) return 0;
  return static_cast<int>(tm.tm_gmtoff / 60);
}

std::string cimLocalDateTime(int64_t unixSeconds, int32_t microseconds) {
  return cimDateTime(unixSeconds, microseconds, localOffsetMinutes(unixSeconds));
}

}  // namespace kestrava::service::linuxsys
