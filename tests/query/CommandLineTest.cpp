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
      // Unique prefixes, values after "=", and "--" before a query that looks like an option.
      {{"--fo=csv", "--host", "srv", "--ca", "C='a'", "M"},
       Mode::Call,
       "srv",
       OutputFormat::Csv,
       "C='a'",
       "M"},
      {{"--format", "json", "--", "--get"}, Mode::Query, "", OutputFormat::Json, "--get", ""},
      {{"-"}, Mode::Query, "", OutputFormat::Table, "-", ""},
  };
  for (const auto& c : cases) {
    CommandLine cmd = CommandLine::parse(c.args);
    const std::string label = ::testing::PrintToString(c.args);
    EXPECT_EQ(cmd.mode, c.mode) << label;
    const auto hosts = std::string(c.host).empty()
                           ? std::vector<CommandLine::Computers>{}
                           : std::vector<CommandLine::Computers>{{false, c.host}};
    EXPECT_EQ(cmd.computers, hosts) << label;
    EXPECT_EQ(cmd.format, c.format) << label;
    EXPECT_EQ(cmd.text, c.text) << label;
    EXPECT_EQ(cmd.method, c.method) << label;
  }
}

TEST(CommandLine, ComputersInTheOrderGivenAndHowManyAtOnce) {
  const auto cmd = CommandLine::parse({"--hosts", "a.txt", "--host", "db1", "--par=4", "--hosts=-",
                                       "--keep", "60", "--host", "db1", "q"});
  using C = CommandLine::Computers;
  EXPECT_EQ(cmd.computers,
            (std::vector<C>{{true, "a.txt"}, {false, "db1"}, {true, "-"}, {false, "db1"}}));
  EXPECT_EQ(cmd.parallel, 4u);
  EXPECT_EQ(cmd.keepConnections, 60u);
  EXPECT_TRUE(cmd.namesComputers());
  EXPECT_EQ(CommandLine::parse({"q"}).parallel, CommandLine::kDefaultParallel);
  // One --host keeps the output of one computer; a second one, or any --hosts, names them.
  EXPECT_FALSE(CommandLine::parse({"--host", "a", "q"}).namesComputers());
  EXPECT_TRUE(CommandLine::parse({"--host", "a", "--host", "b", "q"}).namesComputers());
  EXPECT_TRUE(CommandLine::parse({"--hosts", "f", "q"}).namesComputers());
}

TEST(CommandLine, SortKeysInOrderAndALimitForAQuery) {
  const auto cmd = CommandLine::parse({"--sort", "State", "--fo", "list", "--sort=ProcessId:DESC",
                                       "--limit", "5", "--sort", "Name:asc", "q"});
  EXPECT_EQ(cmd.sort,
            (std::vector<SortKey>{{"State", false}, {"ProcessId", true}, {"Name", false}}));
  EXPECT_EQ(cmd.limit, std::optional<size_t>(5));
  EXPECT_EQ(cmd.format, OutputFormat::List);
  EXPECT_EQ(CommandLine::parse({"q"}).limit, std::nullopt);
}

TEST(CommandLine, RefusedFormsSayWhy) {
  struct Refused {
    std::vector<std::string> args;
    const char* why;
  };
  const Refused cases[] = {
      {{}, "no query given"},
      {{"--format", "xml", "Select * From C"}, "unknown format 'xml'"},
      {{"--format"}, "option --format needs a value"},
      {{"--fo"}, "option --format needs a value"},
      {{"--host"}, "option --host needs a value"},
      {{"--get"}, "option --get needs a value"},
      {{"--call", "C='a'"}, "--call needs an object path and a method name"},
      {{"--watch"}, "option --watch needs a value"},
      {{"Select * From C", "--get", "C='a'"}, "give only one of"},
      {{"--get", "C='a'", "--watch", "q"}, "give only one of"},
      {{"Select", "*", "From", "C"}, "give the query as one argument"},
      {{"--", "Select", "--host"}, "give the query as one argument"},
      {{"--bogus", "Select * From C"}, "unknown option --bogus"},
      {{"--h", "Select * From C"}, "option --h is ambiguous (--help, --host, --hosts)"},
      {{"--help=yes"}, "option --help takes no value"},
      {{"-x"}, "unknown option -x"},
      {{"--host", "srv"}, "no query given"},
      {{"--hos", "srv", "q"}, "option --hos is ambiguous (--host, --hosts)"},
      {{"--parallel", "0", "q"}, "option --parallel takes a whole number from 1 to 1000, not '0'"},
      {{"--parallel=-3", "q"}, "not '-3'"},
      {{"--parallel", "8x", "q"}, "not '8x'"},
      {{"--keep-connections", "99999999999", "q"}, "from 1 to 86400"},
      {{"--sort", "Name:down", "q"}, "option --sort takes a property, or a property and ':desc'"},
      {{"--sort", ":desc", "q"}, "not ':desc'"},
      {{"--sort", "Name, State", "q"}, "not 'Name, State'"},
      {{"--sort"}, "option --sort needs a value"},
      {{"--limit", "0", "q"}, "option --limit takes a whole number from 1 to"},
      {{"--limit", "-1", "q"}, "not '-1'"},
      {{"--sort", "Name", "--get", "C='a'"}, "--sort and --limit go with a query"},
      {{"--limit", "1", "--watch", "q"}, "--sort and --limit go with a query"},
  };
  for (const auto& c : cases) {
    try {
      CommandLine::parse(c.args);
      ADD_FAILURE() << ::testing::PrintToString(c.args) << " was accepted";
    } catch (const UsageError& e) {
      EXPECT_NE(std::string(e.what()).find(c.why), std::string::npos)
          << ::testing::PrintToString(c.args) << ": " << e.what();
    }
  }
}

}  // namespace
}  // namespace kestrava::query
