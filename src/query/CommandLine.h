#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "query/ObjectWriter.h"

namespace kestrava::query {

// A command line that kestrava-query cannot run; its text says why.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// kestrava-query's arguments:
//   [--host NAME] [--format table|csv|json] "WQL"
//   [--host NAME] [--format ...] --get "OBJECT PATH"
//   [--host NAME] [--format ...] --call "OBJECT PATH" METHOD
//   [--host NAME] [--format ...] --watch "NOTIFICATION QUERY"
//   --help | --version
// Parsed by getopt_long: a value also as --host=NAME, an option by any unique prefix (--fo csv),
// "--" ends the options.
struct CommandLine {
  enum class Mode { Query, Get, Call, Watch, Help, Version };

  Mode mode = Mode::Query;
  std::string host;  // empty: this computer
  OutputFormat format = OutputFormat::Table;
  std::string text;    // the query, path or notification query
  std::string method;  // for Call

  // Throws UsageError.
  static CommandLine parse(const std::vector<std::string>& args);
  static const char* usage();
};

}  // namespace kestrava::query
