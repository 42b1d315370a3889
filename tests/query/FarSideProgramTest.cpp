// kestrava-query against far sides that misbehave: the fake agent behind a fake ssh.
#include <signal.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "query/ProgramRun.h"

namespace kestrava::query::testing {
namespace {

using namespace std::chrono_literals;

Outcome runAgainstFake(std::vector<std::string> args, std::optional<int> signal = {},
                       std::chrono::milliseconds signalAfter = 500ms) {
  Launch launch{std::move(args)};
  launch.environment = fakeSshEnvironment();
  launch.signal = signal;
  launch.signalAfter = signalAfter;
  launch.limit = 10s;
  return runProgram(launch);
}

size_t linesWith(const std::string& text, const std::string& part) {
  size_t count = 0;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) count += line.find(part) != std::string::npos;
  return count;
}

// ESC, BEL, the C1 CSI (U+009B) and RIGHT-TO-LEFT OVERRIDE (U+202E).
bool holdsTerminalControls(const std::string& text) {
  return text.find('\x1b') != std::string::npos || text.find('\x07') != std::string::npos ||
         text.find("\xc2\x9b") != std::string::npos ||
         text.find("\xe2\x80\xae") != std::string::npos;
}

TEST(FarSide, TextsFromTheFarSideReachTheTerminalEscaped) {
  const std::string host = "escapes-1";
  const std::vector<std::vector<std::string>> terminalForms = {
      {"--host", host, "Select * From Kestrava_Fake"},
      {"--host", host, "--get", "Kestrava_Fake='x'"},
      {"--host", host, "--call", "Kestrava_Fake='x'", "Run"},
      {"--host", host, "Select Fail From Kestrava_Fake"},
  };
  for (const auto& args : terminalForms) {
    auto r = runAgainstFake(args);
    EXPECT_FALSE(holdsTerminalControls(r.out)) << ::testing::PrintToString(args) << r.out;
    EXPECT_FALSE(holdsTerminalControls(r.err)) << ::testing::PrintToString(args) << r.err;
    EXPECT_NE((r.out + r.err).find("\\x1B"), std::string::npos) << ::testing::PrintToString(args);
  }
  auto watch = runAgainstFake(
      {"--host", host, "--watch", "Select * From __InstanceModificationEvent"}, SIGINT);
  EXPECT_EQ(watch.status, 0) << watch.err;
  EXPECT_NE(watch.out.find("Name\\x1B[31m: "), std::string::npos) << watch.out;
  EXPECT_FALSE(holdsTerminalControls(watch.out)) << watch.out;

  // CSV and JSON carry the texts as they are.
  auto csv = runAgainstFake({"--host", host, "--format", "csv", "Select * From Kestrava_Fake"});
  EXPECT_EQ(csv.out.substr(0, csv.out.find(',')), "Name\x1b[31m");
  auto json = runAgainstFake({"--host", host, "--format", "json", "--call", "K='x'", "Run"});
  EXPECT_EQ(json.out, "{\"ReturnValue\":\"\\u001b[5mdone\xe2\x80\xae" + host +
                          "\\u001b[7m\",\"Meaning\":null}\n");
}

TEST(FarSide, AWatchGoesOnWhenOneComputerDropsOutAndEndsWhenNoneIsLeft) {
  const std::string events = "Select * From __InstanceModificationEvent";
  auto many =
      runAgainstFake({"--host", "alpha", "--host", "drop-1", "--watch", events}, SIGINT, 1500ms);
  EXPECT_EQ(many.status, 1) << many.err;
  EXPECT_EQ(linesWith(many.out, "  drop-1  Kestrava_Fake="), 1u) << many.out;
  EXPECT_GE(linesWith(many.out, "  alpha  Kestrava_Fake="), 5u) << many.out;
  EXPECT_EQ(linesWith(many.err, "kestrava-query: drop-1: The connection to \"drop-1\" was lost"),
            1u)
      << many.err;

  auto alone = runAgainstFake({"--host", "drop-2", "--format", "csv", "--watch", events});
  EXPECT_EQ(alone.status, 1);
  // The one event before the drop: its two changed properties.
  EXPECT_EQ(linesWith(alone.out, ",Kestrava_Fake='drop-2-1',"), 2u) << alone.out;
  EXPECT_EQ(linesWith(alone.err, "kestrava-query: The connection to \"drop-2\" was lost"), 1u)
      << alone.err;
}

}  // namespace
}  // namespace kestrava::query::testing
