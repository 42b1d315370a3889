#include "query/CommandLine.h"

#include <optional>

namespace kestrava::query {

namespace {
class ArgReader {
 public:
  explicit ArgReader(const std::vector<std::string>& args) : args_(args) {}

  bool done() const { return pos_ >= args_.size(); }
  const std::string& next() { return args_[pos_++]; }

  // The value of an option given as "--name value" or "--name=value".
  std::string valueOf(const std::string& option, const std::optional<std::string>& inlineValue) {
    if (inlineValue) return *inlineValue;
    if (done()) throw UsageError("option " + option + " needs a value");
    return next();
  }

 private:
  const std::vector<std::string>& args_;
  size_t pos_ = 0;
};

void setMode(CommandLine& cmd, bool& modeSet, CommandLine::Mode mode) {
  if (modeSet) throw UsageError("give only one of a query, --get, --call and --watch");
  cmd.mode = mode;
  modeSet = true;
}
}  // namespace

CommandLine CommandLine::parse(const std::vector<std::string>& args) {
  CommandLine cmd;
  ArgReader reader(args);
  bool modeSet = false, optionsEnded = false;
  std::vector<std::string> positional;
  while (!reader.done()) {
    std::string arg = reader.next();
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      positional.push_back(std::move(arg));
      continue;
    }
    std::optional<std::string> inlineValue;
    if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      inlineValue = arg.substr(eq + 1);
      arg.resize(eq);
    }
    if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help" || arg == "-h") {
      cmd.mode = Mode::Help;
      return cmd;
    } else if (arg == "--version" || arg == "-V") {
      cmd.mode = Mode::Version;
      return cmd;
    } else if (arg == "--host") {
      cmd.host = reader.valueOf(arg, inlineValue);
    } else if (arg == "--format") {
      const std::string name = reader.valueOf(arg, inlineValue);
      auto format = parseOutputFormat(name);
      if (!format) throw UsageError("unknown format '" + name + "' (table, csv or json)");
      cmd.format = *format;
    } else if (arg == "--get" || arg == "--watch") {
      setMode(cmd, modeSet, arg == "--get" ? Mode::Get : Mode::Watch);
      cmd.text = reader.valueOf(arg, inlineValue);
    } else if (arg == "--call") {
      setMode(cmd, modeSet, Mode::Call);
      cmd.text = reader.valueOf(arg, inlineValue);
      if (reader.done()) throw UsageError("--call needs an object path and a method name");
      cmd.method = reader.next();
    } else {
      throw UsageError("unknown option " + arg);
    }
  }
  if (!positional.empty()) {
    setMode(cmd, modeSet, Mode::Query);
    if (positional.size() > 1) throw UsageError("give the query as one argument, in quotes");
    cmd.text = positional.front();
  }
  if (!modeSet) throw UsageError("no query given");
  return cmd;
}

const char* CommandLine::usage() {
  return "Usage: kestrava-query [--host NAME] [--format table|csv|json] \"WQL\"\n"
         "       kestrava-query [--host NAME] [--format ...] --get \"OBJECT PATH\"\n"
         "       kestrava-query [--host NAME] [--format ...] --call \"OBJECT PATH\" METHOD\n"
         "       kestrava-query [--host NAME] [--format ...] --watch \"NOTIFICATION QUERY\"\n"
         "       kestrava-query --help | --version\n"
         "\n"
         "Asks a computer's management service: runs a WQL query and prints the objects, prints\n"
         "one object by its path, calls a method without arguments and prints its return value,\n"
         "or prints modification events as they come until interrupted.\n"
         "\n"
         "  --host NAME     the computer to ask (default: this one); others are reached over ssh\n"
         "  --format F      table (aligned, the default), csv (with a header row) or json\n"
         "\n"
         "Examples:\n"
         "  kestrava-query \"Select Name, ProcessId From Win32_Process Where Name Like 'ssh%'\"\n"
         "  kestrava-query --format json --get \"Win32_Service='ssh.service'\"\n"
         "  kestrava-query --call \"Win32_Service='ssh.service'\" StopService\n"
         "  kestrava-query --watch \"Select * from __InstanceModificationEvent Within 2.0 Where "
         "TargetInstance Isa 'Win32_Service'\"\n"
         "\n"
         "Exit status: 0 on success, 1 when the service reports an error (printed with its\n"
         "number), 2 for a command line that cannot be run.\n";
}

}  // namespace kestrava::query
