#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

namespace kestrava::testing {

// Test units of scripts/fixtures/systemd-user.sh.
inline const std::string kLongUnit = "kestrava-test-long.service";
inline const std::string kCycleUnit = "kestrava-test-cycle.service";
inline const std::string kPauseUnit = "kestrava-test-pause.service";
inline const std::string kWatchUnit = "kestrava-test-watch.service";
inline const std::string kQueryUnit = "kestrava-test-query.service";
inline const std::string kExitUnit = "kestrava-test-exit.service";
inline const std::string kFailUnit = "kestrava-test-fail.service";
inline const std::string kMaskedUnit = "kestrava-test-masked.service";

inline bool fixturesRequired() {
  const char* v = ::getenv("KESTRAVA_REQUIRE_FIXTURES");
  return v && std::string(v) == "1";
}

}  // namespace kestrava::testing

// Skips without the private user manager (scripts/fixtures/systemd-user.sh); fails instead when
// the fixtures are required.
#define NEED_SYSTEMD_FIXTURE()                                                                 \
  do {                                                                                         \
    if (!::getenv("KESTRAVA_TEST_SYSTEMD")) {                                                  \
      if (kestrava::testing::fixturesRequired()) FAIL() << "KESTRAVA_TEST_SYSTEMD is not set"; \
      GTEST_SKIP() << "no private service manager (scripts/fixtures/systemd-user.sh)";         \
    }                                                                                          \
  } while (0)
