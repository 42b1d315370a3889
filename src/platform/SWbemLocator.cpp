#include "platform/SWbemLocator.h"

#include <utility>

#include "core/ComError.h"

namespace kestrava {

std::shared_ptr<SWbemServices> SWbemLocator::ConnectServer(
    const std::string& computer, const std::string& nameSpace, const std::string& user,
    const std::string& password, const std::string& locale, const std::string& authority, int) {
  ConnectHints hints{std::exchange(readAhead_, {})};
  if (!nameSpace.empty() || !user.empty() || !password.empty() || !locale.empty() ||
      !authority.empty())
    throw ComError(err::kWbemInvalidParameter,
                   "Only the default namespace and the current user's identity are supported ",
                   "SWbemLocator");
  std::shared_ptr<Connection> connection = factory_(computer, hints);
  if (!connection) throw ComError(err::kWbemFailed, "Generic failure ", "SWbemLocator");
  return std::make_shared<SWbemServices>(std::move(connection));
}

}  // namespace kestrava
