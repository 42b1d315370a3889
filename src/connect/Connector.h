#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/Connection.h"

namespace kestrava {

// True for the names that mean this computer: "", ".", "localhost" and its own host name.
bool namesLocalComputer(std::string_view computer);

// The one place that chooses who answers for a computer name: the local management service
// for this computer, the agent over SSH for any other. Throws ComError when it cannot connect.
std::unique_ptr<Connection> connectComputer(const std::string& computer,
                                            const ConnectHints& hints = {});
// The same, with more options for ssh when the computer is reached over it.
std::unique_ptr<Connection> connectComputerWithSsh(const std::string& computer,
                                                   const std::vector<std::string>& sshArguments,
                                                   const ConnectHints& hints = {});

}  // namespace kestrava
