#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "connect/Connector.h"
#include "core/Connection.h"

namespace kestrava::testing {

// The booted Debian server of scripts/fixtures/debian-server.sh: its aliases, and its own tools
// run over ssh as root for what the tests compare Kestrava with.
class BootedServer : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* host = std::getenv("KESTRAVA_TEST_SERVER");
    if (!host) {
      const char* why = std::getenv("KESTRAVA_TEST_SERVER_UNAVAILABLE");
      const std::string reason = why ? why : "scripts/fixtures/debian-server.sh was not started";
      const char* required = std::getenv("KESTRAVA_REQUIRE_FIXTURES");
      if (required && std::string(required) == "1")
        FAIL() << "the booted server is required but is not there: " << reason;
      GTEST_SKIP() << "no booted Debian server: " << reason;
    }
    host_ = host;
  }

  // The alias that logs in as this account (root, admin or oper).
  std::string as(const std::string& account) const { return host_ + "-" + account; }

  // What a command prints on the server, run as root; fails the test when it does not succeed.
  std::string onServer(const std::string& command) const {
    const std::string line =
        "timeout 60 ssh -T -o BatchMode=yes -- " + as("root") + " '" + command + "' </dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(line.c_str(), "r"), ::pclose);
    if (!pipe) {
      ADD_FAILURE() << "cannot run " << line;
      return {};
    }
    std::string out;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe.get())) > 0) out.append(buf, n);
    const int status = ::pclose(pipe.release());
    EXPECT_EQ(status, 0) << line;
    return out;
  }

  std::string host_;
};

// Every object of a query, by the value of one property as text.
inline std::map<std::string, ManagementObject> byKey(Connection& connection, const std::string& wql,
                                                     const std::string& key) {
  std::map<std::string, ManagementObject> out;
  auto stream = connection.execQuery(wql);
  while (auto object = stream->next()) {
    const Value& v = object->get(key);
    out.emplace(v.isNull() ? std::string() : v.toText(), std::move(*object));
  }
  return out;
}

// The lines of a text, without their newlines.
inline std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return out;
}

using Properties = std::map<std::string, std::string>;

// `systemctl show -p ...` for many units: one block of NAME=value lines per unit, by Id.
inline std::map<std::string, Properties> parseShow(const std::string& text) {
  std::map<std::string, Properties> out;
  Properties block;
  auto flush = [&] {
    if (block.count("Id")) out[block["Id"]] = block;
    block.clear();
  };
  for (const std::string& line : lines(text)) {
    if (line.empty()) {
      flush();
      continue;
    }
    const size_t eq = line.find('=');
    if (eq != std::string::npos) block[line.substr(0, eq)] = line.substr(eq + 1);
  }
  flush();
  return out;
}

// The start mode the class gives a unit file state of systemd.
inline std::string startModeOf(const std::string& unitFileState) {
  static const std::map<std::string, std::string> modes = {{"enabled", "Auto"},
                                                           {"enabled-runtime", "Auto"},
                                                           {"static", "Manual"},
                                                           {"disabled", "Manual"},
                                                           {"indirect", "Manual"},
                                                           {"linked", "Manual"},
                                                           {"linked-runtime", "Manual"},
                                                           {"alias", "Manual"},
                                                           {"generated", "Manual"},
                                                           {"transient", "Manual"},
                                                           {"", "Manual"},
                                                           {"masked", "Disabled"},
                                                           {"masked-runtime", "Disabled"}};
  auto it = modes.find(unitFileState);
  return it == modes.end() ? "Unknown" : it->second;
}

}  // namespace kestrava::testing
