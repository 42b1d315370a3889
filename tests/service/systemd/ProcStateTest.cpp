#include "service/systemd/ProcState.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "service/systemd/TempDir.h"

namespace kestrava::service::systemd {
namespace {

using kestrava::testing::TempDir;

TEST(ProcState, ReadsTheStateAfterTheLastParenthesis) {
  TempDir proc;
  const std::pair<const char*, std::optional<char>> cases[] = {
      {"5 (sleep) S 1 5 5 0 -1", 'S'},
      {"6 (a) b) c) T 1 2 3", 'T'},
      {"7 (with space) R 1", 'R'},
      {"8 ()) Z 1", 'Z'},
      {"9 (x)", std::nullopt},
      {"10 (x)T", std::nullopt},
      {"11 no parenthesis at all", std::nullopt},
      {"", std::nullopt},
      {"12 (x) \x01 1", std::nullopt},
  };
  uint32_t pid = 100;
  for (const auto& [text, state] : cases) {
    ++pid;
    proc.write(std::to_string(pid) + "/stat", text);
    EXPECT_EQ(processState(proc.path().string(), pid), state) << text;
  }
  EXPECT_EQ(processState(proc.path().string(), 99999), std::nullopt);
  EXPECT_EQ(processState(proc.path().string(), 0), std::nullopt);
}

TEST(ProcState, SeesARealProcessStopAndContinue) {
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    for (int i = 0; i < 600; ++i) pause();
    _exit(0);
  }
  kill(child, SIGSTOP);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, WUNTRACED), child);
  EXPECT_EQ(processState("/proc", static_cast<uint32_t>(child)), 'T');
  kill(child, SIGCONT);
  ASSERT_EQ(waitpid(child, &status, WCONTINUED), child);
  EXPECT_NE(processState("/proc", static_cast<uint32_t>(child)), 'T');
  kill(child, SIGKILL);
  waitpid(child, &status, 0);
  EXPECT_EQ(processState("/proc", static_cast<uint32_t>(child)), std::nullopt);
}

}  // namespace
}  // namespace kestrava::service::systemd
