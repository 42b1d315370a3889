#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "service/systemd/BusErrorMap.h"
#include "service/systemd/SdBus.h"
#include "service/systemd/ServiceMapping.h"
#include "service/systemd/UnitRecord.h"

namespace kestrava::service::systemd {

// systemd's manager on the system bus, opened the standard way (sd_bus_open_system, which
// honours DBUS_SYSTEM_BUS_ADDRESS). Reads fail with ComError; control requests return the
// failure so the caller can turn it into a return code. Not thread-safe: one caller at a time.
class SystemdClient {
 public:
  // nullptr when there is no system bus or no systemd answers on it within the timeout.
  static std::unique_ptr<SystemdClient> open(std::chrono::milliseconds probeTimeout);

  // Every service unit systemd knows, loaded or installed (templates and aliases left out),
  // sorted by name, with what the two list calls tell.
  std::vector<UnitRecord> listServices();

  // Reads the properties of the Unit and/or the Service interface of every record, all calls
  // sent before the replies are read. A unit that vanished keeps what the lists said.
  void readProperties(std::vector<UnitRecord>& units, bool unitInterface, bool serviceInterface);

  // One service by its full name, both interfaces; nullopt when systemd knows no such service.
  std::optional<UnitRecord> readUnit(const std::string& name);

  // The account the manager runs as, the default of every unit without User=.
  const std::string& managerUser();

  // Sends one control request for the unit, letting a polkit agent ask the user; returns at
  // once with nullopt when systemd accepted it, the failure otherwise.
  std::optional<BusFailure> control(UnitAction action, const std::string& unitName);

 private:
  explicit SystemdClient(BusPtr bus) : bus_(std::move(bus)) {}
  sd_bus* bus();

  BusPtr bus_;
  std::optional<std::string> managerUser_;
};

}  // namespace kestrava::service::systemd
