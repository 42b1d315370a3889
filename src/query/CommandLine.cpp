#include "query/CommandLine.h"

#include <getopt.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>

namespace kestrava::query {

namespace {

enum Option : int {
  kHost = 256,
  kHosts,
  kFormat,
  kGet,
  kCall,
  kWatch,
  kParallel,
  kKeep,
  kSort,
  kLimit
};

constexpr option kOptions[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"host", required_argument, nullptr, kHost},
    {"hosts", required_argument, nullptr, kHosts},
    {"format", required_argument, nullptr, kFormat},
    {"get", required_argument, nullptr, kGet},
    {"call", required_argument, nullptr, kCall},
    {"watch", required_argument, nullptr, kWatch},
    {"parallel", required_argument, nullptr, kParallel},
    {"keep-connections", required_argument, nullptr, kKeep},
    {"sort", required_argument, nullptr, kSort},
    {"limit", required_argument, nullptr, kLimit},
    {nullptr, 0, nullptr, 0},
};

// getopt_long keeps its place in globals.
std::mutex parserMutex;

void setMode(CommandLine& cmd, bool& modeSet, CommandLine::Mode mode) {
  if (modeSet) throw UsageError("give only one of a query, --get, --call and --watch");
  cmd.mode = mode;
  modeSet = true;
}

unsigned numberIn(const char* option, const char* text, unsigned low, unsigned high) {
  char* end = nullptr;
  errno = 0;
  const unsigned long n = std::strtoul(text, &end, 10);
  if (!*text || *end || errno || text[0] == '-' || n < low || n > high)
    throw UsageError(std::string("option --") + option + " takes a whole number from " +
                     std::to_string(low) + " to " + std::to_string(high) + ", not '" + text + "'");
  return static_cast<unsigned>(n);
}

// Why getopt_long refused the argument it has just read.
UsageError refusal(int value, const char* arg) {
  const std::string given(arg, std::strcspn(arg, "="));
  if (value == ':') {
    for (const auto& o : kOptions)
      if (o.name && o.val == optopt)
        return UsageError("option --" + std::string(o.name) + " needs a value");
    return UsageError("option " + given + " needs a value");
  }
  if (given.rfind("--", 0) != 0)
    return UsageError(std::string("unknown option -") + static_cast<char>(optopt));
  if (optopt != 0) return UsageError("option " + given + " takes no value");
  std::string candidates;
  for (const auto& o : kOptions)
    if (o.name && std::string_view(o.name).starts_with(given.substr(2)))
      candidates += (candidates.empty() ? "--" : ", --") + std::string(o.name);
  if (candidates.find(',') != std::string::npos)
    return UsageError("option " + given + " is ambiguous (" + candidates + ")");
  return UsageError("unknown option " + given);
}

}  // namespace

bool CommandLine::namesComputers() const {
  size_t hosts = 0;
  for (const auto& c : computers)
    if (c.isFile || ++hosts > 1) return true;
  return false;
}

CommandLine CommandLine::parse(const std::vector<std::string>& args) {
  // getopt_long may reorder the array it is given; it gets a copy of the pointers.
  std::vector<std::string> storage{"kestrava-query"};
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : storage) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(storage.size());

  std::lock_guard lock(parserMutex);
  optind = 0;  // a fresh scan, also of GNU's own state
  opterr = 0;
  CommandLine cmd;
  bool modeSet = false;
  std::vector<std::string> positional;
  for (;;) {
    // "-": arguments that are no options come back in order, as value 1.
    const int value = getopt_long(argc, argv.data(), "-:hV", kOptions, nullptr);
    if (value == -1) break;
    switch (value) {
      case 1:
        positional.push_back(optarg);
        break;
      case 'h':
        cmd.mode = Mode::Help;
        return cmd;
      case 'V':
        cmd.mode = Mode::Version;
        return cmd;
      case kHost:
      case kHosts:
        cmd.computers.push_back({value == kHosts, optarg});
        break;
      case kParallel:
        cmd.parallel = numberIn("parallel", optarg, 1, kMaxParallel);
        break;
      case kKeep:
        cmd.keepConnections = numberIn("keep-connections", optarg, 1, kMaxKeepSeconds);
        break;
      case kFormat: {
        auto format = parseOutputFormat(optarg);
        if (!format)
          throw UsageError("unknown format '" + std::string(optarg) +
                           "' (table, csv, json or list)");
        cmd.format = *format;
        break;
      }
      case kSort: {
        auto key = parseSortKey(optarg);
        if (!key)
          throw UsageError("option --sort takes a property, or a property and ':desc', not '" +
                           std::string(optarg) + "'");
        cmd.sort.push_back(std::move(*key));
        break;
      }
      case kLimit:
        cmd.limit = numberIn("limit", optarg, 1, std::numeric_limits<unsigned>::max());
        break;
      case kGet:
      case kWatch:
        setMode(cmd, modeSet, value == kGet ? Mode::Get : Mode::Watch);
        cmd.text = optarg;
        break;
      case kCall:
        setMode(cmd, modeSet, Mode::Call);
        cmd.text = optarg;
        // The method follows the path as the next argument.
        if (optind >= argc || std::strcmp(argv[optind], "--") == 0)
          throw UsageError("--call needs an object path and a method name");
        cmd.method = argv[optind++];
        break;
      default:
        throw refusal(value, argv[optind - 1]);
    }
  }
  positional.insert(positional.end(), argv.begin() + optind, argv.begin() + argc);  // after "--"
  if (!positional.empty()) {
    setMode(cmd, modeSet, Mode::Query);
    if (positional.size() > 1) throw UsageError("give the query as one argument, in quotes");
    cmd.text = positional.front();
  }
  if (!modeSet) throw UsageError("no query given");
  if (cmd.mode != Mode::Query && (!cmd.sort.empty() || cmd.limit))
    throw UsageError("--sort and --limit go with a query, not with --get, --call or --watch");
  return cmd;
}
const char* CommandLine::usage() {
  return "Usage: kestrava-query [COMPUTERS] [--format F] [--sort PROPERTY[:desc]]... [--limit N]\n"
         "                      \"WQL\"\n"
         "       kestrava-query [COMPUTERS] [--format ...] --get \"OBJECT PATH\"\n"
         "       kestrava-query [COMPUTERS] [--format ...] --call \"OBJECT PATH\" METHOD\n"
         "       kestrava-query [COMPUTERS] [--format ...] --watch \"NOTIFICATION QUERY\"\n"
         "       kestrava-query --help | --version\n"
         "\n"
         "Asks computers' management services: runs a WQL query and prints the objects, prints\n"
         "one object by its path, calls a method without arguments and prints its return value,\n"
         "or prints creation, deletion or modification events as they come until interrupted\n"
         "(\"Within SECONDS\" may be left out: 2 seconds; conditions on the instance go after\n"
         "its Isa: \"And TargetInstance.Name = 'cron.service'\"). Errors in a query name what\n"
         "was found, its column and what was expected.\n"
         "\n"
         "  --host NAME     a computer to ask (default: this one); others are reached over ssh\n"
         "  --hosts FILE    the computers named in FILE, one a line (\"-\": standard input);\n"
         "                  blank lines and what follows a \"#\" are skipped\n"
         "  --parallel N    ask at most N computers at once (default 32)\n"
         "  --keep-connections SECONDS\n"
         "                  let ssh share each connection and keep it SECONDS after its last use,\n"
         "                  so the next query skips the log-in (ControlMaster/ControlPersist);\n"
         "                  never where the ssh configuration already says how to share\n"
         "  --format F      table (aligned, the default), csv (with a header row), json, or list\n"
         "                  (one property a line, a blank line between objects); a query that\n"
         "                  matches nothing still prints the table's or the CSV's header\n"
         "  --sort PROPERTY[:desc]\n"
         "                  order a query's objects by PROPERTY, one the query returns "
         "(\":desc\":\n"
         "                  largest first); repeat it for ties. Numbers by value, texts as the\n"
         "                  lists of kestrava order them: runs of digits by value, letters\n"
         "                  without regard to case\n"
         "  --limit N       print at most N of a query's objects (after --sort)\n"
         "\n"
         "--call prints the return value with its meaning (\"2 Access denied\", \"0 Success\");\n"
         "JSON and CSV give it as ReturnValue and Meaning. A value other than 0 exits with 1.\n"
         "\n"
         "--host and --hosts may be given together and repeated. With --hosts or more than one\n"
         "--host, every row, return value and event begins with its computer as named here\n"
         "(a \"Computer\" column or member); rows stay together in the order the computers were\n"
         "named. A computer that fails is reported on standard error with its name, and the\n"
         "others are still printed. --sort and --limit order and count the rows of all the\n"
         "computers together.\n"
         "\n"
         "An option's value may also follow it after '=' (--format=json), an option may be\n"
         "shortened to any unique prefix (--fo json), and \"--\" ends the options.\n"
         "\n"
         "Examples:\n"
         "  kestrava-query \"Select Name, ProcessId From Win32_Process Where Name Like 'ssh%'\"\n"
         "  kestrava-query --format json --get \"Win32_Service='cron.service'\"\n"
         "  kestrava-query --call \"Win32_Service='cron.service'\" StopService\n"
         "  kestrava-query --watch \"Select * from __InstanceModificationEvent Within 2.0 Where "
         "TargetInstance Isa 'Win32_Service'\"\n"
         "  kestrava-query --watch \"Select * From __InstanceDeletionEvent Where TargetInstance "
         "Isa "
         "'Win32_Process' And TargetInstance.Name = 'cron'\"\n"
         "  kestrava-query --hosts servers.txt \"Select Name From Win32_Service Where StartMode = "
         "'Auto' And State <> 'Running'\"\n"
         "  kestrava-query --hosts servers.txt --sort WorkingSetSize:desc --limit 5 \"Select Name, "
         "WorkingSetSize From Win32_Process\"\n"
         "\n"
         "Exit status: 0 when every computer answered, 1 when the service of at least one\n"
         "reported an error or could not be reached (printed with its number), a --call\n"
         "returned a value other than 0, or the output cannot be written (a full disk, a\n"
         "closed standard output, a reader that has gone away), 2 for a command line that\n"
         "cannot be run (also a --sort property that the query does not return).\n";
}

}  // namespace kestrava::query
