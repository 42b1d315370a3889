#include <gtest/gtest.h>

#include "query/CommandLine.h"

namespace kestrava::query {
namespace {

using Mode = CommandLine::Mode;

struct Accepted {
  std::vector<std::string> args;
  Mode mode;
  const char* host;
  OutputFormat format;
  const char* text;
  const char* method;
};

TEST(CommandLine, AcceptedForms) {
  const Accepted cases[] = {
      {{"Select * From C"}, Mode::Query, "", OutputFormat::Table, "Select * From C", ""},
      {{"--format", "csv", "Select * From C"},
       Mode::Query,
       "",
       OutputFormat::Csv,
       "Select * From C",
       ""},
      {{"Select * From C", "--format=JSON"},
       Mode::Query,
       "",
       OutputFormat::Json,
       "Select * From C",
       ""},
      {{"--host", "srv", "--get", "C='a'"}, Mode::Get, "srv", OutputFormat::Table, "C='a'", ""},
      {{"--host=srv", "--call", "C='a'", "StopService"},
       Mode::Call,
       "srv",
       OutputFormat::Table,
       "C='a'",
       "StopService"},
      {{"--watch", "Select * from E"}, Mode::Watch, "", OutputFormat::Table, "Select * from E", ""},
      {{"--", "-odd query"}, Mode::Query, "", OutputFormat::Table, "-odd query", ""},
      {{"--get=C='x=y'"}, Mode::Get, "", OutputFormat::Table, "C='x=y'", ""},
      {{"--help"}, Mode::Help, "", OutputFormat::Table, "", ""},
      {{"Select", "--version"}, Mode::Version, "", OutputFormat::Table, "", ""},
      {{"-h"}, Mode::Help, "", OutputFormat::Table, "", ""},
  };
  for (const auto& c : cases) {
    CommandLine cmd = CommandLine::parse(c.args);
    const std::string label = ::testing::PrintToString(c.args);
    EXPECT_EQ(cmd.mode, c.mode) << label;
    EXPECT_EQ(cmd.host, c.host) << label;
    EXPECT_EQ(cmd.format, c.format) << label;
    EXPECT_EQ(cmd.text, c.text) << label;
    EXPECT_EQ(cmd.method, c.method) << label;
  }
}

TEST(CommandLine, RefusedForms) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--format", "xml", "Select * From C"},
      {"--format"},
      {"--host"},
      {"--get"},
      {"--call", "C='a'"},
      {"--watch"},
      {"Select * From C", "--get", "C='a'"},
      {"--get", "C='a'", "--watch", "q"},
      {"Select", "*", "From", "C"},
      {"--bogus", "Select * From C"},
      {"-x"},
      {"--host", "srv"},
  };
  for (const auto& args : cases)
    EXPECT_THROW(CommandLine::parse(args), UsageError) << ::testing::PrintToString(args);
}

}  // namespace
}  // namespace kestrava::query
