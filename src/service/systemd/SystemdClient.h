#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "service/systemd/BusErrorMap.h"
#include "service/systemd/SdBus.h"
#include "service/systemd/ServiceMapping.h"
#include "service/systemd/UnitFileCache.h"
#include "service/systemd/UnitRecord.h"

namespace kestrava::service::systemd {

// systemd's manager on the system bus, opened the standard way (sd_bus_open_system, which
// honours DBUS_SYSTEM_BUS_ADDRESS). Reads fail with ComError; control requests return the
// failure so the caller can turn it into a return code. Not thread-safe: one caller at a time.
class SystemdClient {
 public:
  // nullptr when there is no system bus or nobody owns systemd's name on it. A manager that
  // owns its name but does not answer within the timeout (busy) is opened all the same.
  static std::unique_ptr<SystemdClient> open(std::chrono::milliseconds probeTimeout);

  // Every service unit systemd knows, loaded or installed (templates and aliases left out),
  // sorted by name, with what the two list calls tell. The unit file list costs systemd far
  // more than the rest, so it is kept until systemd says the files changed (or for at most
  // kFileListLifetime, for files dropped in or removed without a reload), and a later
  // connection of this process takes it over while no unit folder has changed (UnitFileCache).
  std::vector<UnitRecord> listServices();
  static constexpr std::chrono::seconds kFileListLifetime{30};

  // Reads the properties of the Unit and/or the Service interface of every record, all calls
  // sent before the replies are read. A unit that vanished keeps what the lists said. A unit
  // that is installed but not loaded must be loaded by systemd to answer, which is costly and
  // tells nothing new until its file changes: what it answered is kept until systemd reports
  // changed unit files or a reload (an edit needs a reload to count, as for a loaded unit).
  void readProperties(std::vector<UnitRecord>& units, bool unitInterface, bool serviceInterface);

  // One service by its full name, both interfaces; nullopt when systemd knows no such service.
  std::optional<UnitRecord> readUnit(const std::string& name);

  // The account the manager runs as, the default of every unit without User=.
  const std::string& managerUser();
  // The unit that runs the bus daemon between us and systemd; empty when none is known.
  const std::string& busUnit();

  // Sends one control request for the unit, letting a polkit agent ask the user; returns at
  // once with nullopt when systemd accepted it, the failure otherwise.
  std::optional<BusFailure> control(UnitAction action, const std::string& unitName);

 private:
  SystemdClient(BusPtr bus, std::string manager)
      : bus_(std::move(bus)), manager_(std::move(manager)) {}
  sd_bus* bus();
  void fetchProperties(std::vector<UnitRecord*>& units, bool unitInterface, bool serviceInterface);
  void fetchIdleProperties(std::vector<UnitRecord*>& units, bool unitInterface,
                           bool serviceInterface);
  void watchUnitFiles(sd_bus* bus);
  bool fileListFresh() const;
  void takeUnitFiles(std::map<std::string, std::string> files,
                     std::chrono::steady_clock::time_point asked);
  // The stamps of the manager's unit folders, or nullopt when its root cannot be seen from here.
  std::optional<std::map<std::string, int64_t>> unitFolderStamps(sd_bus* bus);
  static int onUnitFilesChanged(sd_bus_message* signal, void* userdata, sd_bus_error* error);

  BusPtr bus_;
  // Which manager answers: the bus's id and the manager's name on it, for the shared cache.
  std::string manager_;
  std::optional<std::string> managerRoot_;  // its root folder as seen from here; "" unknown
  std::vector<std::string> unitPath_;
  std::optional<FolderStamps> stamps_;  // those the unit file list in use was read under
  std::optional<std::string> managerUser_;
  std::optional<std::string> busUnit_;
  // Unit file name -> state, from ListUnitFilesByPatterns, while no change signal came.
  std::map<std::string, std::string> unitFiles_;
  std::optional<std::chrono::steady_clock::time_point> unitFilesRead_;
  // What installed units that were not loaded answered, kept until the next change signal.
  std::map<std::string, UnitRecord> idleUnits_;
  SlotPtr filesChangedMatch_;
  SlotPtr reloadingMatch_;
};

}  // namespace kestrava::service::systemd
