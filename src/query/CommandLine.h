#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "query/ObjectWriter.h"
#include "query/RowOrder.h"

namespace kestrava::query {

// A command line that kestrava-query cannot run; its text says why.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// kestrava-query's arguments:
//   [COMPUTERS] [--format table|csv|json|list] [--sort PROPERTY[:desc]]... [--limit N] "WQL"
//   [COMPUTERS] [--format ...] --get "OBJECT PATH"
//   [COMPUTERS] [--format ...] --call "OBJECT PATH" METHOD
//   [COMPUTERS] [--format ...] --watch "NOTIFICATION QUERY"
//   --help | --version
// where COMPUTERS are --host NAME and --hosts FILE, each as often as wanted, with
// [--parallel N] [--keep-connections SECONDS].
// Parsed by getopt_long: a value also as --host=NAME, an option by any unique prefix (--fo csv),
// "--" ends the options.
struct CommandLine {
  enum class Mode { Query, Get, Call, Watch, Help, Version };

  // One --host NAME or --hosts FILE ("-": standard input), in the order given.
  struct Computers {
    bool isFile = false;
    std::string text;
    bool operator==(const Computers&) const = default;
  };

  static constexpr unsigned kDefaultParallel = 32;
  static constexpr unsigned kMaxParallel = 1000;
  static constexpr unsigned kMaxKeepSeconds = 86400;

  Mode mode = Mode::Query;
  std::vector<Computers> computers;  // none: this computer
  OutputFormat format = OutputFormat::Table;
  std::string text;    // the query, path or notification query
  std::string method;  // for Call
  unsigned parallel = kDefaultParallel;
  unsigned keepConnections = 0;  // seconds a shared ssh connection stays; 0: none shared
  std::vector<SortKey> sort;     // a query's order across every computer, first key first
  std::optional<size_t> limit;   // at most this many of a query's objects, across every computer

  // Several computers, so each row, value and event names its computer: any --hosts, or more
  // than one --host.
  bool namesComputers() const;

  // Throws UsageError.
  static CommandLine parse(const std::vector<std::string>& args);
  static const char* usage();
};

}  // namespace kestrava::query
