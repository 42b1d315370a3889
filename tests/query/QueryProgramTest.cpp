#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "core/ClassSchema.h"
#include "query/ProgramRun.h"

namespace kestrava::query::testing {
namespace {

using namespace std::chrono_literals;

TEST(QueryProgram, HelpAndVersion) {
  auto help = runProgram({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: kestrava-query"), std::string::npos);
  EXPECT_EQ(help.err, "");

  auto version = runProgram({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("kestrava-query ") + KESTRAVA_VERSION + "\n");
}

TEST(QueryProgram, UsageErrorsExitWithTwo) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"--format", "xml", "Select * From Win32_Process"}, {"--bogus"}, {"--call", "x"}}) {
    auto r = runProgram(args);
    EXPECT_EQ(r.status, 2) << ::testing::PrintToString(args);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("kestrava-query: "), std::string::npos);
  }
}

TEST(QueryProgram, ServiceErrorsGoToStandardErrorWithTheirNumbers) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {{"Select Name Fro Win32_Process"},
       "Invalid query: found 'Fro' at column 13, expected From (0x80041017, -2147217385)"},
      {{"Select * From Win32_Process Where WorkingSetSize > 'lots'"},
       "Invalid query: 'lots' is not a number, and WorkingSetSize is a 64-bit integer "
       "(0x80041017, -2147217385)"},
      {{"Select * From Kestrava_NoSuchClass"},
       "Invalid class: no class Kestrava_NoSuchClass (0x80041010, -2147217392)"},
      {{"--get", "Win32_Process='1"},
       "Invalid object path: the quote at column 15 is never closed (0x8004103A, -2147217350)"},
      {{"--get", "Win32_Process.Name='1'"},
       "Invalid object path: the key property of Win32_Process is Handle, not Name "
       "(0x8004103A, -2147217350)"},
      {{"--get", "Win32_Process='no such process'"},
       "Not found: Win32_Process='no such process' (0x80041002, -2147217406)"},
      {{"--call", "Kestrava_NoSuchClass='x'", "StopService"},
       "Invalid class: no class Kestrava_NoSuchClass (0x80041010, -2147217392)"},
      {{"--watch", "Select * From Win32_Process"},
       "Invalid query: found 'Win32_Process' at column 15, expected __InstanceCreationEvent, "
       "__InstanceDeletionEvent or __InstanceModificationEvent; the events that can be watched "
       "are Select * From __InstanceCreationEvent, __InstanceDeletionEvent or "
       "__InstanceModificationEvent, then Within SECONDS if wanted, Where TargetInstance Isa "
       "'Class', then And conditions on TargetInstance.Property if wanted "
       "(0x80041017, -2147217385)"},
  };
  for (const auto& c : cases) {
    auto r = runProgram(c.args);
    EXPECT_EQ(r.status, 1) << ::testing::PrintToString(c.args);
    EXPECT_EQ(r.err, std::string("kestrava-query: ") + c.message + "\n")
        << ::testing::PrintToString(c.args);
  }
}

TEST(QueryProgram, OutputThatCannotBeWrittenIsAFailure) {
  struct Case {
    Launch::Output output;
    std::vector<std::string> args;
    const char* why;
  };
  const Case cases[] = {
      {Launch::Output::DevFull, {"Select Name From Win32_Process"}, "No space left on device"},
      {Launch::Output::DevFull,
       {"--format", "json", "Select * From Win32_OperatingSystem"},
       "No space left on device"},
      {Launch::Output::Closed,
       {"--format", "csv", "Select Name From Win32_Process"},
       "Bad file descriptor"},
      {Launch::Output::DevFull, {"--help"}, "No space left on device"},
  };
  for (const auto& c : cases) {
    Launch launch{c.args, c.output};
    auto r = runProgram(launch);
    EXPECT_EQ(r.status, 1) << ::testing::PrintToString(c.args);
    EXPECT_EQ(r.err, std::string("kestrava-query: cannot write the output: ") + c.why + "\n")
        << ::testing::PrintToString(c.args);
  }
}

TEST(QueryProgram, QueriesThisComputer) {
  auto r = runProgram(
      {"--format", "csv",
       "Select ProcessId, Name From Win32_Process Where ProcessId = " + std::to_string(getpid())});
  EXPECT_EQ(r.status, 0) << r.err;
  // Names keep the class's own spelling; they compare without regard to case.
  EXPECT_EQ(toLowerAscii(r.out.substr(0, r.out.find('\n'))), "processid,name") << r.out;
  EXPECT_NE(r.out.find("\n" + std::to_string(getpid()) + ","), std::string::npos) << r.out;
}

TEST(QueryProgram, EmptyResultsSortingLimitsAndLists) {
  const std::string none = "Select Name, ProcessId From Win32_Process Where ProcessId = 0";
  auto csv = runProgram({"--format", "csv", none});
  EXPECT_EQ(csv.status, 0) << csv.err;
  EXPECT_EQ(toLowerAscii(csv.out), "name,processid\n");
  auto table = runProgram({none});
  EXPECT_EQ(toLowerAscii(table.out), "name  processid\n----  ---------\n");

  // Process ids as numbers: 10 after 9, whatever their text.
  auto sorted = runProgram({"--format", "csv", "--sort", "ProcessId:desc", "--limit", "3",
                            "Select ProcessId From Win32_Process"});
  EXPECT_EQ(sorted.status, 0) << sorted.err;
  std::vector<long> pids;
  std::istringstream lines(sorted.out.substr(sorted.out.find('\n') + 1));
  for (std::string line; std::getline(lines, line);) pids.push_back(std::stol(line));
  ASSERT_EQ(pids.size(), 3u) << sorted.out;
  EXPECT_TRUE(pids[0] > pids[1] && pids[1] > pids[2]) << sorted.out;

  auto list = runProgram({"--format", "list", "Select * From Win32_OperatingSystem"});
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(list.out.rfind("BootDevice: ", 0), 0u) << list.out;
  EXPECT_EQ(list.out.find("\n\n"), std::string::npos) << "one object, no blank line";

  auto unknown = runProgram({"--sort", "Nope", "Select * From Win32_Process"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_EQ(unknown.out, "");
  EXPECT_EQ(unknown.err,
            "kestrava-query: --sort Nope: the query returns no such property\n"
            "Try 'kestrava-query --help'.\n");
}

TEST(QueryProgram, SixtyFourBitCountsCompareAndPrintAsNumbers) {
  const std::string me = "Select ProcessId, WorkingSetSize From Win32_Process Where ProcessId = " +
                         std::to_string(getpid());
  // As text, almost every size is above '100000000000': its first digit decides.
  auto huge = runProgram({"--format", "csv", me + " And WorkingSetSize > '100000000000'"});
  EXPECT_EQ(huge.status, 0) << huge.err;
  EXPECT_EQ(huge.out.find("\n" + std::to_string(getpid()) + ","), std::string::npos) << huge.out;
  auto some = runProgram({"--format", "json", me + " And WorkingSetSize > '4096'"});
  EXPECT_EQ(some.status, 0) << some.err;
  EXPECT_NE(some.out.find("\"WorkingSetSize\":"), std::string::npos) << some.out;
  EXPECT_EQ(some.out.find("\"WorkingSetSize\":\""), std::string::npos)
      << "not a number: " << some.out;
}

TEST(QueryProgram, WatchEndsCleanlyOnSigintSigtermAndSighup) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    const auto start = std::chrono::steady_clock::now();
    Launch launch{{"--watch",
                   "Select * from __InstanceModificationEvent Within 0.1 Where "
                   "TargetInstance Isa 'Win32_Processor'"}};
    launch.signal = signal;
    launch.signalAfter = 300ms;
    auto r = runProgram(launch);
    EXPECT_EQ(r.status, 0) << "signal " << signal << ": " << r.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  }
}

}  // namespace
}  // namespace kestrava::query::testing
