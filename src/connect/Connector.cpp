#include "connect/Connector.h"

#include <unistd.h>

#include <climits>

#include "core/ClassSchema.h"
#include "core/ComError.h"
#include "remote/RemoteConnection.h"
#include "service/local/MakeLocalConnection.h"

namespace kestrava {

namespace {
std::string hostName() {
  char buf[HOST_NAME_MAX + 1] = {};
  if (gethostname(buf, sizeof buf - 1) != 0) return {};
  return buf;
}

}  // namespace

bool namesLocalComputer(std::string_view computer) {
  if (computer.empty() || computer == "." || equalsIgnoreCase(computer, "localhost")) return true;
  const std::string own = hostName();
  return !own.empty() && equalsIgnoreCase(computer, own);
}

std::unique_ptr<Connection> connectComputer(const std::string& computer,
                                            const ConnectHints& hints) {
  return connectComputerWithSsh(computer, {}, hints);
}

std::unique_ptr<Connection> connectComputerWithSsh(const std::string& computer,
                                                   const std::vector<std::string>& sshArguments,
                                                   const ConnectHints& hints) {
  if (namesLocalComputer(computer)) {
    auto local = service::makeLocalConnection();
    local->readAhead(hints.readAhead);
    return local;
  }
  remote::SshOptions options;
  options.sshArguments = sshArguments;
  options.readAhead = hints.readAhead;
  return remote::connectOverSsh(computer, options);
}

}  // namespace kestrava
