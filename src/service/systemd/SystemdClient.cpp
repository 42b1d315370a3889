#include "service/systemd/SystemdClient.h"

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <functional>
#include <map>

#include "service/systemd/CallBatch.h"
#include "service/systemd/UnitFileCache.h"
#include "service/systemd/UnitPropertyParser.h"

namespace kestrava::service::systemd {

namespace {

constexpr const char* kDestination = "org.freedesktop.systemd1";
constexpr const char* kManagerPath = "/org/freedesktop/systemd1";
constexpr const char* kManager = "org.freedesktop.systemd1.Manager";
constexpr const char* kUnitInterface = "org.freedesktop.systemd1.Unit";
constexpr const char* kServiceInterface = "org.freedesktop.systemd1.Service";
constexpr size_t kWindow = 64;  // pending calls per connection, well under the bus's limit
constexpr std::chrono::seconds kReadTimeout{30};
// Long enough for a polkit agent's password prompt to be answered.
constexpr std::chrono::seconds kControlTimeout{90};

MessagePtr newCall(sd_bus* bus, const char* path, const char* interface, const char* member) {
  sd_bus_message* m = nullptr;
  int r = sd_bus_message_new_method_call(bus, &m, kDestination, path, interface, member);
  if (r < 0) throw toComError(describeFailure(nullptr, r), "Preparing a request to systemd");
  return MessagePtr(m);
}

void check(int r, std::string_view doing) {
  if (r < 0) throw toComError(describeFailure(nullptr, r), doing);
}

std::string unitObjectPath(const std::string& name) {
  char* path = nullptr;
  check(sd_bus_path_encode("/org/freedesktop/systemd1/unit", name.c_str(), &path),
        "Naming a unit object");
  std::string result(path);
  std::free(path);
  return result;
}

MessagePtr listCall(sd_bus* bus, const char* member) {
  MessagePtr m = newCall(bus, kManagerPath, kManager, member);
  check(sd_bus_message_append_strv(m.get(), nullptr), "Preparing a request to systemd");
  std::array<char*, 2> patterns{const_cast<char*>("*.service"), nullptr};
  check(sd_bus_message_append_strv(m.get(), patterns.data()), "Preparing a request to systemd");
  return m;
}

void throwIfTransport(const BusFailure* failure, std::string_view doing) {
  if (failure && isTransportFailure(*failure)) throw toComError(*failure, doing);
}

// One entry of ListUnits and its kin.
struct ListedUnit {
  const char* name;
  const char* description;
  const char* load;
  const char* active;
  const char* sub;
};

// a(ssssssouso): name, description, load, active, sub, following, path, job id, type, path.
int readUnitList(sd_bus_message* m, const std::function<void(const ListedUnit&)>& each) {
  int r = sd_bus_message_enter_container(m, 'a', "(ssssssouso)");
  if (r < 0) return r;
  ListedUnit u{};
  const char *following, *path, *jobType, *jobPath;
  uint32_t jobId = 0;
  while ((r = sd_bus_message_read(m, "(ssssssouso)", &u.name, &u.description, &u.load, &u.active,
                                  &u.sub, &following, &path, &jobId, &jobType, &jobPath)) > 0)
    each(u);
  return r < 0 ? r : sd_bus_message_exit_container(m);
}

void takeListed(UnitRecord& unit, const ListedUnit& listed) {
  unit.description = listed.description;
  unit.loadState = listed.load;
  unit.activeState = listed.active;
  unit.subState = listed.sub;
}

// a(ss): the unit file's path and its state.
int readUnitFileList(sd_bus_message* m, std::map<std::string, std::string>& files) {
  int r = sd_bus_message_enter_container(m, 'a', "(ss)");
  if (r < 0) return r;
  const char *path, *state;
  while ((r = sd_bus_message_read(m, "(ss)", &path, &state)) > 0) {
    std::string_view p(path);
    std::string name(p.substr(p.rfind('/') + 1));
    if (!isServiceUnitName(name) || std::string_view(state) == "alias") continue;
    files[name] = state;
  }
  return r < 0 ? r : sd_bus_message_exit_container(m);
}

std::string userName(uid_t uid) {
  std::array<char, 1024> buffer{};
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
    return found->pw_name;
  return std::to_string(uid);
}

}  // namespace

std::unique_ptr<SystemdClient> SystemdClient::open(std::chrono::milliseconds probeTimeout) {
  sd_bus* raw = nullptr;
  if (sd_bus_open_system(&raw) < 0) return nullptr;
  BusPtr bus(raw);
  sd_bus_message* call = nullptr;
  if (sd_bus_message_new_method_call(bus.get(), &call, kDestination, kManagerPath,
                                     "org.freedesktop.DBus.Properties", "Get") < 0)
    return nullptr;
  MessagePtr probe(call);
  if (sd_bus_message_append(probe.get(), "ss", kManager, "Version") < 0) return nullptr;
  BusError error;
  sd_bus_message* reply = nullptr;
  auto usec = std::chrono::duration_cast<std::chrono::microseconds>(probeTimeout).count();
  std::string owner;
  if (sd_bus_call(bus.get(), probe.get(), static_cast<uint64_t>(usec), error.get(), &reply) >= 0) {
    MessagePtr answered(reply);
    const char* sender = sd_bus_message_get_sender(answered.get());
    owner = sender ? sender : "";
  } else {
    // No answer in time is not "no systemd": a manager busy with a long request (a listing of
    // thousands of unit files) still owns its name, and its services are asked of it, with the
    // bounds of each call, never of the init scripts.
    BusError ownerError;
    sd_bus_message* ownerReply = nullptr;
    if (sd_bus_call_method(bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "GetNameOwner", ownerError.get(), &ownerReply,
                           "s", kDestination) < 0)
      return nullptr;
    MessagePtr owned(ownerReply);
    const char* unique = nullptr;
    if (sd_bus_message_read(owned.get(), "s", &unique) < 0 || !unique) return nullptr;
    owner = unique;
  }
  // The manager as the shared unit file cache knows it: a restarted bus or manager is another.
  std::string manager;
  sd_id128_t busId{};
  if (sd_bus_get_bus_id(bus.get(), &busId) >= 0) {
    char text[SD_ID128_STRING_MAX];
    manager = sd_id128_to_string(busId, text);
  }
  manager += "/" + owner;
  return std::unique_ptr<SystemdClient>(new SystemdClient(std::move(bus), std::move(manager)));
}

sd_bus* SystemdClient::bus() {
  if (bus_ && sd_bus_is_open(bus_.get()) > 0) return bus_.get();
  // The bus went away (a restarted bus daemon): open it anew for this request.
  filesChangedMatch_.reset();
  reloadingMatch_.reset();
  unitFilesRead_.reset();
  idleUnits_.clear();
  bus_.reset();
  managerUser_.reset();
  busUnit_.reset();
  sd_bus* raw = nullptr;
  check(sd_bus_open_system(&raw), "Opening the system bus");
  bus_.reset(raw);
  return raw;
}

int SystemdClient::onUnitFilesChanged(sd_bus_message*, void* userdata, sd_bus_error*) {
  auto* client = static_cast<SystemdClient*>(userdata);
  UnitFileCache::shared().forget(client->manager_);
  client->stamps_.reset();
  client->unitFilesRead_.reset();
  client->idleUnits_.clear();
  return 0;
}

void SystemdClient::watchUnitFiles(sd_bus* b) {
  if (filesChangedMatch_) return;
  sd_bus_slot* changed = nullptr;
  sd_bus_slot* reloading = nullptr;
  if (sd_bus_match_signal(b, &changed, kDestination, kManagerPath, kManager, "UnitFilesChanged",
                          &SystemdClient::onUnitFilesChanged, this) < 0)
    return;
  SlotPtr changedMatch(changed);
  if (sd_bus_match_signal(b, &reloading, kDestination, kManagerPath, kManager, "Reloading",
                          &SystemdClient::onUnitFilesChanged, this) < 0)
    return;
  SlotPtr reloadingMatch(reloading);
  // systemd sends its signals to the bus only while somebody is subscribed.
  BusError error;
  if (sd_bus_call_method(b, kDestination, kManagerPath, kManager, "Subscribe", error.get(), nullptr,
                         "") < 0)
    return;
  filesChangedMatch_ = std::move(changedMatch);
  reloadingMatch_ = std::move(reloadingMatch);
}

namespace {
// True for the system bus of this machine's own file system (no other bus named).
bool isDefaultSystemBus() {
  const char* address = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
  if (!address || !*address) return true;
  const std::string_view a(address);
  return a == "unix:path=/run/dbus/system_bus_socket" ||
         a == "unix:path=/var/run/dbus/system_bus_socket";
}
}  // namespace

std::optional<FolderStamps> SystemdClient::unitFolderStamps(sd_bus* b) {
  if (manager_.empty()) return std::nullopt;
  if (!managerRoot_) {
    // The bus daemon shares the manager's file system; the kernel gives its process as this
    // machine numbers it, so /proc/<pid>/root is the manager's root even in a container.
    managerRoot_ = "";
    sd_bus_creds* raw = nullptr;
    pid_t pid = 0;
    if (sd_bus_get_owner_creds(b, SD_BUS_CREDS_PID, &raw) >= 0) {
      CredsPtr creds(raw);
      if (sd_bus_creds_get_pid(creds.get(), &pid) < 0) pid = 0;
    }
    const std::string proc = "/proc/" + std::to_string(pid) + "/root";
    if (pid > 0 && ::access((proc + "/").c_str(), X_OK) == 0)
      managerRoot_ = proc;
    else if (isDefaultSystemBus())
      managerRoot_ = "/";
    char** path = nullptr;
    BusError error;
    if (!managerRoot_->empty() &&
        sd_bus_get_property_strv(b, kDestination, kManagerPath, kManager, "UnitPath", error.get(),
                                 &path) >= 0 &&
        path) {
      for (char** p = path; *p; ++p) {
        unitPath_.emplace_back(*p);
        std::free(*p);
      }
      std::free(path);
    }
  }
  if (managerRoot_->empty() || unitPath_.empty()) return std::nullopt;
  return stampUnitFolders(*managerRoot_, unitPath_);
}

bool SystemdClient::fileListFresh() const {
  return filesChangedMatch_ && unitFilesRead_ &&
         std::chrono::steady_clock::now() - *unitFilesRead_ < kFileListLifetime;
}

std::vector<UnitRecord> SystemdClient::listServices() {
  sd_bus* b = bus();
  watchUnitFiles(b);
  // Deliver the change signals that came since the last look (bounded: a few at most).
  for (int i = 0; i < 1000 && sd_bus_process(b, nullptr) > 0; ++i) {
  }
  std::map<std::string, UnitRecord> units;
  CallBatch batch(b, 2, kReadTimeout);
  batch.add(listCall(b, "ListUnitsByPatterns"),
            [&units](sd_bus_message* reply, const BusFailure* failure) {
              if (failure) throw toComError(*failure, "Listing units");
              check(readUnitList(reply,
                                 [&units](const ListedUnit& listed) {
                                   // Merely referenced by another unit, no file: no service.
                                   if (std::string_view(listed.load) == "not-found" &&
                                       std::string_view(listed.active) == "inactive")
                                     return;
                                   UnitRecord& unit = units[listed.name];
                                   unit.name = listed.name;
                                   takeListed(unit, listed);
                                   unit.listed = true;
                                 }),
                    "Listing units");
            });
  if (!fileListFresh()) {
    const auto asked = std::chrono::steady_clock::now();
    std::optional<FolderStamps> stamps = unitFolderStamps(b);
    std::optional<UnitFileCache::Kept> kept;
    if (stamps) kept = UnitFileCache::shared().lookup(manager_, *stamps);
    stamps_ = stamps;
    if (kept) {
      takeUnitFiles(std::move(kept->files), asked);
      for (auto& [name, unit] : kept->idle)
        if (unitFiles_.count(name)) idleUnits_.try_emplace(name, std::move(unit));
    } else {
      batch.add(listCall(b, "ListUnitFilesByPatterns"),
                [this, asked, stamps = std::move(stamps)](sd_bus_message* reply,
                                                          const BusFailure* failure) {
                  if (failure) throw toComError(*failure, "Listing unit files");
                  std::map<std::string, std::string> files;
                  check(readUnitFileList(reply, files), "Listing unit files");
                  if (stamps) UnitFileCache::shared().store(manager_, *stamps, files);
                  takeUnitFiles(std::move(files), asked);
                });
    }
  }
  batch.run();
  for (const auto& [name, state] : unitFiles_) {
    UnitRecord& unit = units[name];
    unit.name = name;
    if (unit.unitFileState.empty()) unit.unitFileState = state;
  }
  std::vector<UnitRecord> sorted;
  sorted.reserve(units.size());
  for (auto& [name, unit] : units) sorted.push_back(std::move(unit));
  return sorted;
}

void SystemdClient::takeUnitFiles(std::map<std::string, std::string> files,
                                  std::chrono::steady_clock::time_point asked) {
  unitFiles_ = std::move(files);
  unitFilesRead_ = asked;
  std::erase_if(idleUnits_, [this](const auto& kept) { return unitFiles_.count(kept.first) == 0; });
}

void SystemdClient::fetchProperties(std::vector<UnitRecord*>& units, bool unitInterface,
                                    bool serviceInterface) {
  if (units.empty() || (!unitInterface && !serviceInterface)) return;
  // Both interfaces in one call ("" asks for every interface): systemd loads a unit that is only
  // installed for the call and may unload it right after, so one call loads it once.
  const char* interface = !serviceInterface ? kUnitInterface
                          : !unitInterface  ? kServiceInterface
                                            : "";
  sd_bus* b = bus();
  CallBatch batch(b, kWindow, kReadTimeout);
  for (UnitRecord* unit : units) {
    MessagePtr m =
        newCall(b, unitObjectPath(unit->name).c_str(), "org.freedesktop.DBus.Properties", "GetAll");
    check(sd_bus_message_append(m.get(), "s", interface), "Preparing a request to systemd");
    batch.add(std::move(m), [unit, unitInterface, serviceInterface](sd_bus_message* reply,
                                                                    const BusFailure* failure) {
      throwIfTransport(failure, "Reading unit properties");
      if (!reply || !parseUnitProperties(reply, *unit)) return;
      unit->unitRead = unitInterface;
      unit->serviceRead = serviceInterface;
    });
  }
  batch.run();
}

void SystemdClient::fetchIdleProperties(std::vector<UnitRecord*>& units, bool unitInterface,
                                        bool serviceInterface) {
  if (units.empty() || (!unitInterface && !serviceInterface)) return;
  sd_bus* b = bus();
  CallBatch batch(b, kWindow, kReadTimeout);
  std::map<std::string_view, UnitRecord*> byName;
  for (UnitRecord* unit : units) byName[unit->name] = unit;
  if (unitInterface) {
    // The Unit interface's own GetAll would make systemd work out each unit file's state anew,
    // which the file list has told already and which costs it more than all the rest.
    MessagePtr m = newCall(b, kManagerPath, kManager, "ListUnitsByNames");
    std::vector<const char*> names;
    for (UnitRecord* unit : units) names.push_back(unit->name.c_str());
    names.push_back(nullptr);
    check(sd_bus_message_append_strv(m.get(), const_cast<char**>(names.data())),
          "Preparing a request to systemd");
    batch.add(std::move(m), [&byName](sd_bus_message* reply, const BusFailure* failure) {
      throwIfTransport(failure, "Reading units");
      if (!reply) return;
      readUnitList(reply, [&byName](const ListedUnit& listed) {
        auto it = byName.find(listed.name);
        if (it == byName.end()) return;
        takeListed(*it->second, listed);
        it->second->id = listed.name;
        it->second->unitRead = true;
      });
    });
  }
  for (UnitRecord* unit : units) {
    const std::string path = unitObjectPath(unit->name);
    if (unitInterface) {
      MessagePtr m = newCall(b, path.c_str(), "org.freedesktop.DBus.Properties", "Get");
      check(sd_bus_message_append(m.get(), "ss", kUnitInterface, "FailureAction"),
            "Preparing a request to systemd");
      batch.add(std::move(m), [unit](sd_bus_message* reply, const BusFailure* failure) {
        throwIfTransport(failure, "Reading unit properties");
        const char* action = nullptr;
        if (reply && sd_bus_message_read(reply, "v", "s", &action) > 0)
          unit->failureAction = action;
      });
    }
    if (serviceInterface) {
      MessagePtr m = newCall(b, path.c_str(), "org.freedesktop.DBus.Properties", "GetAll");
      check(sd_bus_message_append(m.get(), "s", kServiceInterface),
            "Preparing a request to systemd");
      batch.add(std::move(m), [unit](sd_bus_message* reply, const BusFailure* failure) {
        throwIfTransport(failure, "Reading unit properties");
        if (reply && parseUnitProperties(reply, *unit)) unit->serviceRead = true;
      });
    }
  }
  batch.run();
}

void SystemdClient::readProperties(std::vector<UnitRecord>& units, bool unitInterface,
                                   bool serviceInterface) {
  if (!unitInterface && !serviceInterface) return;
  std::vector<UnitRecord*> toRead;
  for (UnitRecord& unit : units) {
    auto kept = unit.listed ? idleUnits_.end() : idleUnits_.find(unit.name);
    if (kept != idleUnits_.end() && (kept->second.unitRead || !unitInterface) &&
        (kept->second.serviceRead || !serviceInterface))
      unit = kept->second;
    else
      toRead.push_back(&unit);
  }
  std::vector<UnitRecord*> loaded, idle, woken;
  for (UnitRecord* unit : toRead) (unit->listed ? loaded : idle).push_back(unit);
  fetchProperties(loaded, unitInterface, serviceInterface);
  fetchIdleProperties(idle, unitInterface, serviceInterface);
  for (UnitRecord* unit : idle) {
    // One that started since the listing needs what only a loaded unit tells (freezer, stop).
    const bool down = unit->activeState.empty() || unit->activeState == "inactive" ||
                      unit->activeState == "failed";
    if (!down)
      woken.push_back(unit);
    else if (unit->unitRead || unit->serviceRead)
      idleUnits_[unit->name] = *unit;
  }
  fetchProperties(woken, unitInterface, serviceInterface);
  if (!idle.empty() && stamps_) UnitFileCache::shared().keepIdle(manager_, *stamps_, idleUnits_);
}

std::optional<UnitRecord> SystemdClient::readUnit(const std::string& name) {
  if (!isServiceUnitName(name)) return std::nullopt;
  UnitRecord unit;
  unit.name = name;
  std::vector<UnitRecord*> one{&unit};
  fetchProperties(one, true, true);
  if (!unit.unitRead || unit.id != name) return std::nullopt;
  if (unit.loadState == "not-found" && unit.activeState == "inactive") return std::nullopt;
  return unit;
}

const std::string& SystemdClient::managerUser() {
  if (managerUser_) return *managerUser_;
  sd_bus_creds* raw = nullptr;
  uid_t uid = 0;
  if (sd_bus_get_name_creds(bus(), kDestination, SD_BUS_CREDS_UID | SD_BUS_CREDS_EUID, &raw) >= 0) {
    CredsPtr creds(raw);
    if (sd_bus_creds_get_euid(creds.get(), &uid) < 0 && sd_bus_creds_get_uid(creds.get(), &uid) < 0)
      uid = 0;
  }
  managerUser_ = userName(uid);
  return *managerUser_;
}

const std::string& SystemdClient::busUnit() {
  if (busUnit_) return *busUnit_;
  busUnit_.emplace();
  sd_bus* b = bus();
  BusError error;
  sd_bus_message* reply = nullptr;
  uint32_t pid = 0;
  // The daemon tells its own process (the socket's peer is systemd when it was socket-activated).
  if (sd_bus_call_method(b, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                         "GetConnectionUnixProcessID", error.get(), &reply, "s",
                         "org.freedesktop.DBus") >= 0) {
    MessagePtr answer(reply);
    if (sd_bus_message_read(answer.get(), "u", &pid) <= 0) pid = 0;
  }
  if (pid == 0) return *busUnit_;
  if (sd_bus_call_method(b, kDestination, kManagerPath, kManager, "GetUnitByPID", error.get(),
                         &reply, "u", pid) < 0)
    return *busUnit_;
  MessagePtr answer(reply);
  const char* path = nullptr;
  char* id = nullptr;
  if (sd_bus_message_read(answer.get(), "o", &path) > 0 &&
      sd_bus_get_property_string(b, kDestination, path, kUnitInterface, "Id", error.get(), &id) >=
          0) {
    busUnit_ = id;
    std::free(id);
  }
  return *busUnit_;
}

std::optional<BusFailure> SystemdClient::control(UnitAction action, const std::string& unitName) {
  static constexpr std::array<const char*, 6> kMembers{"StartUnit", "StopUnit", "FreezeUnit",
                                                       "KillUnit",  "ThawUnit", "KillUnit"};
  sd_bus* b = bus();
  MessagePtr m = newCall(b, kManagerPath, kManager, kMembers[static_cast<size_t>(action)]);
  int r = 0;
  switch (action) {
    case UnitAction::Start:
    case UnitAction::Stop:
      r = sd_bus_message_append(m.get(), "ss", unitName.c_str(), "replace");
      break;
    case UnitAction::Freeze:
    case UnitAction::Thaw:
      r = sd_bus_message_append(m.get(), "s", unitName.c_str());
      break;
    case UnitAction::SignalStop:
    case UnitAction::SignalContinue:
      // Every process of the unit, as the freezer would hold them all.
      r = sd_bus_message_append(m.get(), "ssi", unitName.c_str(), "all",
                                action == UnitAction::SignalStop ? SIGSTOP : SIGCONT);
      break;
  }
  check(r, "Preparing a request to systemd");
  check(sd_bus_message_set_allow_interactive_authorization(m.get(), 1),
        "Preparing a request to systemd");
  BusError error;
  sd_bus_message* reply = nullptr;
  r = sd_bus_call(b, m.get(), std::chrono::microseconds(kControlTimeout).count(), error.get(),
                  &reply);
  MessagePtr answered(reply);
  if (r >= 0) return std::nullopt;
  return describeFailure(error.get(), r);
}

}  // namespace kestrava::service::systemd
