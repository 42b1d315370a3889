#pragma once

#include "core/ClassSchema.h"

namespace kestrava::service {

// The schema of Win32_Service, keyed by Name, shared by the systemd and the SysV provider.
const SchemaPtr& win32ServiceSchema();

}  // namespace kestrava::service
