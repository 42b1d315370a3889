#pragma once

#include <memory>

#include "core/Connection.h"

namespace kestrava::service {

// The management service of this computer: the Linux classes and Win32_Service behind one
// connection. Throws ComError when it cannot be set up.
std::unique_ptr<Connection> makeLocalConnection();

}  // namespace kestrava::service
