#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <thread>

#include "platform/Err.h"

namespace kestrava {
namespace {

class ErrTest : public ::testing::Test {
 protected:
  void SetUp() override { Err().clear(); }
  void TearDown() override { Err().clear(); }
};

TEST_F(ErrTest, FailingStatementIsSkippedAndItsErrorBecomesPending) {
  struct Case {
    const char* what;
    std::function<void()> statement;
    int number;
    std::string description;
    std::string source;
  };
  const std::vector<Case> cases = {
      {"ComError", [] { throw ComError(-2147217406, "Not found ", "SWbemServicesEx"); },
       -2147217406, "Not found ", "SWbemServicesEx"},
      {"standard exception", [] { throw std::runtime_error("boom"); }, err::kInternal,
       "Internal error: boom", "Kestrava"},
      {"anything else", [] { throw 7; }, err::kInternal, "Internal error", "Kestrava"},
  };
  for (const auto& c : cases) {
    Err().clear();
    bool after = false;
    EXPECT_FALSE(Err().step([&] {
      c.statement();
      after = true;
    })) << c.what;
    EXPECT_FALSE(after) << c.what << ": the rest of the statement is skipped";
    EXPECT_TRUE(Err().pending()) << c.what;
    EXPECT_EQ(Err().number(), c.number) << c.what;
    EXPECT_EQ(Err().description(), c.description) << c.what;
    EXPECT_EQ(Err().source(), c.source) << c.what;
  }
}

TEST_F(ErrTest, ReturnedFailureCountsLikeAThrownOne) {
  EXPECT_FALSE(
      Err().step([]() -> std::optional<ComError> { return ComError(94, "Invalid use of Null"); }));
  EXPECT_EQ(Err().number(), 94);
  EXPECT_TRUE(Err().step([]() -> std::optional<ComError> { return std::nullopt; }));
  EXPECT_EQ(Err().number(), 94) << "success leaves the pending error alone";
}

TEST_F(ErrTest, SuccessLeavesTheErrorAndALaterFailureReplacesIt) {
  EXPECT_EQ(Err().number(), 0);
  EXPECT_FALSE(Err().pending());
  Err().step([] { throw ComError(13, "Type mismatch"); });
  int ran = 0;
  EXPECT_TRUE(Err().step([&] { ++ran; }));
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(Err().number(), 13);
  Err().step([] { throw ComError(91, "Object variable or With block variable not set"); });
  EXPECT_EQ(Err().number(), 91);
  Err().clear();
  EXPECT_EQ(Err().number(), 0);
  EXPECT_EQ(Err().description(), "");
  EXPECT_FALSE(Err().pending());
}

TEST_F(ErrTest, EachThreadHasItsOwnPendingError) {
  Err().raise(ComError(13, "Type mismatch"));
  int other = -1;
  std::thread([&] { other = Err().number(); }).join();
  EXPECT_EQ(other, 0);
  EXPECT_EQ(Err().number(), 13);
}

}  // namespace
}  // namespace kestrava
