#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/Connection.h"
#include "platform/SWbemServices.h"

namespace kestrava {

// Opens connections to computers' management services. Which service answers for a name is the
// factory's choice (the local service, the agent over SSH, or a test's scripted service).
class SWbemLocator {
 public:
  explicit SWbemLocator(ConnectionFactory factory) : factory_(std::move(factory)) {}

  // The computer name reaches the factory unchanged. Namespace, user, password, locale and
  // authority must be empty: the connection always has the identity of the user running us.
  std::shared_ptr<SWbemServices> ConnectServer(
      const std::string& computer, const std::string& nameSpace = {}, const std::string& user = {},
      const std::string& password = {}, const std::string& locale = {},
      const std::string& authority = {}, int securityFlags = 0);

  // The queries the caller runs right after the next ConnectServer, in this order: they are
  // handed to the factory with that connect alone (ConnectHints), never to a later one.
  void readAheadOnNextConnect(std::vector<std::string> queries) { readAhead_ = std::move(queries); }

 private:
  ConnectionFactory factory_;
  std::vector<std::string> readAhead_;
};

}  // namespace kestrava
