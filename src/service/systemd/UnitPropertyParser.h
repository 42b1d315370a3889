#pragma once

#include <systemd/sd-bus.h>

#include "service/systemd/UnitRecord.h"

namespace kestrava::service::systemd {

// Reads the reply of org.freedesktop.DBus.Properties.GetAll (a{sv}) on a unit's
// org.freedesktop.systemd1.Unit or .Service interface into the record. Properties the record
// has no field for are skipped, and so is a known property whose value has an unexpected type.
// Returns false for a malformed reply; the fields read before the fault stay set.
bool parseUnitProperties(sd_bus_message* reply, UnitRecord& record);

}  // namespace kestrava::service::systemd
