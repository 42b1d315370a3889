#include "sys/ProcStat.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrava::sys {
namespace {

// The fields after the command name of a sleeping process, as Linux 6.x writes them.
const std::string kStatTail =
    " S 1 1234 1200 34816 1234 4194304 150 0 2 0 7 3 0 0 20 0 1 0 98765 8380416 230 "
    "18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 1 0 0 0 0 0\n";

struct StatCase {
  const char* what;
  std::string text;
  bool parses;
  std::string comm;
};

TEST(ProcStatParse, CommandNamesOfEveryShape) {
  const StatCase cases[] = {
      {"plain", "1234 (sleep)" + kStatTail, true, "sleep"},
      {"spaces and parentheses", "1234 (a) (b c)" + kStatTail, true, "a) (b c"},
      {"newline", "1234 (two\nlines)" + kStatTail, true, "two\nlines"},
      {"empty name", "1234 ()" + kStatTail, true, ""},
      {"invalid UTF-8 kept as bytes", "1234 (x\xff\xfe)" + kStatTail, true, "x\xff\xfe"},
      {"cut before rss", "1234 (sleep) S 1 1234 1200 34816 1234 4194304 150 0 2 0 7 3 0 0 20 0 1",
       false, ""},
      {"no closing parenthesis", "1234 (sleep S 1" + kStatTail, false, ""},
      {"letters in a number", "1234 (sleep) S 1x" + kStatTail.substr(4), false, ""},
      {"no pid", "(sleep)" + kStatTail, false, ""},
      {"empty", "", false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto s = parseProcStat(c.text);
    ASSERT_EQ(s.has_value(), c.parses);
    if (!s) continue;
    EXPECT_EQ(s->comm, c.comm);
    EXPECT_EQ(s->pid, 1234);
    EXPECT_EQ(s->state, 'S');
    EXPECT_EQ(s->ppid, 1);
    EXPECT_EQ(s->session, 1200);
    EXPECT_EQ(s->minflt, 150u);
    EXPECT_EQ(s->majflt, 2u);
    EXPECT_EQ(s->utime, 7u);
    EXPECT_EQ(s->stime, 3u);
    EXPECT_EQ(s->priority, 20);
    EXPECT_EQ(s->numThreads, 1);
    EXPECT_EQ(s->startTime, 98765u);
    EXPECT_EQ(s->vsize, 8380416u);
    EXPECT_EQ(s->rss, 230);
  }
}

}  // namespace
}  // namespace kestrava::sys
