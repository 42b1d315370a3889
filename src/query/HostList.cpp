#include "query/HostList.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <unordered_set>

namespace kestrava::query {

namespace {
constexpr const char* kBlanks = " \t\r\f\v";
}  // namespace

std::vector<std::string> readHostList(std::istream& in) {
  std::vector<std::string> names;
  std::string line;
  while (std::getline(in, line)) {
    line.erase(std::min(line.find('#'), line.size()));
    const auto first = line.find_first_not_of(kBlanks);
    if (first == std::string::npos) continue;
    names.push_back(line.substr(first, line.find_last_not_of(kBlanks) + 1 - first));
  }
  return names;
}

std::vector<std::string> computerNames(const CommandLine& cmd, std::istream& standardInput) {
  std::vector<std::string> names;
  std::unordered_set<std::string> seen;
  auto add = [&](const std::string& name) {
    if (seen.insert(name).second) names.push_back(name);
  };
  for (const auto& c : cmd.computers) {
    if (!c.isFile) {
      add(c.text);
      continue;
    }
    std::vector<std::string> listed;
    if (c.text == "-") {
      listed = readHostList(standardInput);
    } else {
      std::ifstream file(c.text);
      if (!file)
        throw UsageError("cannot read the hosts file " + c.text + ": " + std::strerror(errno));
      listed = readHostList(file);
      if (file.bad()) throw UsageError("cannot read the hosts file " + c.text);
    }
    if (listed.empty())
      throw UsageError("the hosts file " + (c.text == "-" ? "on standard input" : c.text) +
                       " names no computer");
    for (const auto& name : listed) add(name);
  }
  if (names.empty()) names.push_back("");
  return names;
}

}  // namespace kestrava::query
