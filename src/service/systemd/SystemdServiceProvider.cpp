#include "service/systemd/SystemdServiceProvider.h"

#include <unistd.h>

#include <array>
#include <stdexcept>

#include "service/systemd/ProcState.h"
#include "service/systemd/ServiceReturnCode.h"
#include "service/systemd/ServiceSchema.h"

namespace kestrava::service::systemd {

namespace {

// What a property needs read beyond the two unit lists.
enum Source : unsigned {
  kUnit = 1,     // GetAll of org.freedesktop.systemd1.Unit
  kService = 2,  // GetAll of org.freedesktop.systemd1.Service
  kMain = 4,     // the run state of the main process in /proc
  kManager = 8,  // the account the manager runs as
};
constexpr unsigned kState = kUnit | kService | kMain;

struct Context {
  const HostFacts& host;
  std::string managerUser;
};

using Reader = Value (*)(const UnitRecord&, const Context&);
struct Column {
  std::string_view property;
  PropertyDoc doc;
  unsigned sources;
  Reader read;
};

Value textOrNull(const std::string& s) {
  return s.empty() ? Value::null() : Value::text(s);
}
std::string shownName(const UnitRecord& u) {
  return u.description.empty() ? u.name : u.description;
}

// Every Win32_Service property and how a unit fills it.
const std::array<Column, 25> kColumns{{
    {"AcceptPause",
     {"boolean", "",
      "True when a pause would be carried out now: the unit is `active`/`running`, not paused, has "
      "a main process or a usable freezer, and does not run the bus daemon Kestrava talks through "
      "(see PauseService)"},
     kState,
     [](const UnitRecord& u, const Context& c) {
       return Value::boolean(acceptPause(u, c.host.freezerUsable));
     }},
    {"AcceptStop",
     {"boolean", "",
      "True when a stop would be carried out now: the unit is active, starting or reloading, not "
      "already stopping, and `CanStop` (no `RefuseManualStop=`)"},
     kState,
     [](const UnitRecord& u, const Context&) { return Value::boolean(acceptStop(u)); }},
    {"Caption",
     {"string", "", "`Description`, or the unit name when the unit has none"},
     kUnit,
     [](const UnitRecord& u, const Context&) { return Value::text(shownName(u)); }},
    {"CheckPoint",
     {"integer", "", "0: systemd reports no progress steps of a pending start or stop"},
     0,
     [](const UnitRecord&, const Context&) { return Value::integer(0); }},
    {"CreationClassName",
     {"string", "", "\"Win32_Service\""},
     0,
     [](const UnitRecord&, const Context&) { return Value::text("Win32_Service"); }},
    {"Description",
     {"string", "", "`Description`; null when empty"},
     kUnit,
     [](const UnitRecord& u, const Context&) { return textOrNull(u.description); }},
    {"DesktopInteract",
     {"boolean", "", "False: a service has no desktop"},
     0,
     [](const UnitRecord&, const Context&) { return Value::boolean(false); }},
    {"DisplayName",
     {"string", "", "as Caption"},
     kUnit,
     [](const UnitRecord& u, const Context&) { return Value::text(shownName(u)); }},
    {"ErrorControl",
     {"string", "",
      "From `FailureAction`: \"Normal\" for `none` (a failure only fails the unit), \"Critical\" "
      "for every action that takes the machine down or exits the manager (`reboot*`, `poweroff*`, "
      "`exit*`, `halt*`, `kexec*`, `soft-reboot*`); null when unread"},
     kUnit,
     [](const UnitRecord& u, const Context&) {
       return u.unitRead ? Value::text(errorControl(u.failureAction)) : Value::null();
     }},
    {"ExitCode",
     {"integer", "",
      "`ExecMainStatus`: the exit status of the main process's last run, or the signal number that "
      "ended it; 0 when that signal is SIGTERM, SIGINT, SIGHUP or SIGPIPE (`ExecMainCode` says "
      "killed), which systemd counts as a clean end, as after a stop. systemd forgets it when it "
      "unloads a unit that ended cleanly; it then reads 0"},
     kService,
     [](const UnitRecord& u, const Context&) {
       return u.serviceRead ? Value::integer(exitCode(u)) : Value::null();
     }},
    {"InstallDate",
     {"null", "", "systemd records no installation date"},
     0,
     [](const UnitRecord&, const Context&) { return Value::null(); }},
    {"Name",
     {"string", "", "the unit's full name"},
     0,
     [](const UnitRecord& u, const Context&) { return Value::text(u.name); }},
    {"PathName",
     {"string", "",
      "`ExecStart=`: the executable's path and its arguments (from `argv[1]`), each argument with "
      "a blank, quote or backslash in double quotes; several commands joined with \"; \"; null "
      "when the unit has none (a masked unit)"},
     kService,
     [](const UnitRecord& u, const Context&) {
       return u.hasExecStart ? Value::text(u.execStart) : Value::null();
     }},
    {"ProcessId",
     {"integer", "", "`MainPID`; 0 when there is no main process"},
     kService,
     [](const UnitRecord& u, const Context&) {
       return u.serviceRead ? Value::integer(u.mainPid) : Value::null();
     }},
    {"ServiceSpecificExitCode",
     {"null", "", "systemd keeps one exit status, given as ExitCode"},
     0,
     [](const UnitRecord&, const Context&) { return Value::null(); }},
    {"ServiceType",
     {"string", "", "\"Own Process\": every unit runs in processes of its own"},
     0,
     [](const UnitRecord&, const Context&) { return Value::text("Own Process"); }},
    {"Started",
     {"boolean", "",
      "True when `ActiveState` is `active` or `reloading` (a paused service is started)"},
     kUnit,
     [](const UnitRecord& u, const Context&) { return Value::boolean(isActive(u)); }},
    {"StartMode",
     {"string", "",
      "From `UnitFileState`: \"Auto\" for `enabled`, `enabled-runtime`; \"Manual\" for `static`, "
      "`disabled`, `indirect`, `linked`, `linked-runtime`, `alias`, `generated`, `transient` and "
      "none; \"Disabled\" for `masked`, `masked-runtime`; \"Unknown\" for `bad` and anything else"},
     kUnit,
     [](const UnitRecord& u, const Context&) { return Value::text(startMode(u.unitFileState)); }},
    {"StartName",
     {"string", "",
      "`User=`; for `DynamicUser=yes` without `User=` the unit's name without \".service\" (the "
      "name systemd gives the dynamic user); otherwise the account the manager runs as (root for "
      "the system manager)"},
     kService | kManager,
     [](const UnitRecord& u, const Context& c) {
       return u.serviceRead ? Value::text(startName(u, c.managerUser)) : Value::null();
     }},
    {"State",
     {"string", "",
      "From `FreezerState`, `ActiveState`, `SubState` and the main process's run state "
      "(`/proc/<MainPID>/stat`): \"Paused\" when frozen, or active with the main process stopped "
      "(state T); \"Pause Pending\" while freezing; \"Continue Pending\" while thawing; "
      "\"Running\" when `active` or `reloading`; \"Start Pending\" when `activating`; \"Stop "
      "Pending\" when `deactivating`; \"Stopped\" when `inactive`, `failed` or `maintenance`; "
      "\"Unknown\" otherwise"},
     kState,
     [](const UnitRecord& u, const Context&) { return Value::text(serviceState(u)); }},
    {"Status",
     {"string", "",
      "\"Error\" when `ActiveState` is `failed` or `LoadState` is `error` or `bad-setting`; "
      "\"Degraded\" while `SubState` is `auto-restart` (the service died and waits to be "
      "restarted); otherwise \"OK\""},
     kUnit,
     [](const UnitRecord& u, const Context&) { return Value::text(serviceStatus(u)); }},
    {"SystemCreationClassName",
     {"string", "", "\"Win32_ComputerSystem\""},
     0,
     [](const UnitRecord&, const Context&) { return Value::text("Win32_ComputerSystem"); }},
    {"SystemName",
     {"string", "", "this computer's host name"},
     0,
     [](const UnitRecord&, const Context& c) { return Value::text(c.host.systemName); }},
    {"TagId",
     {"integer", "", "0: systemd has no load-order tags"},
     0,
     [](const UnitRecord&, const Context&) { return Value::integer(0); }},
    {"WaitHint",
     {"integer", "milliseconds",
      "While starting, `TimeoutStartUSec` in ms; while stopping, `TimeoutStopUSec` in ms; 0 "
      "otherwise and for an infinite timeout"},
     kUnit | kService,
     [](const UnitRecord& u, const Context&) { return Value::integer(waitHintMs(u)); }},
}};

// The column of each schema property, in schema order.
const std::vector<const Column*>& columnsBySchema() {
  static const std::vector<const Column*> columns = [] {
    const SchemaPtr& schema = win32ServiceSchema();
    std::vector<const Column*> byIndex(schema->size(), nullptr);
    for (const Column& c : kColumns) byIndex.at(schema->indexOf(c.property).value()) = &c;
    for (const Column* c : byIndex)
      if (!c) throw std::logic_error("Win32_Service property without a source");
    return byIndex;
  }();
  return columns;
}

unsigned sourcesFor(const PropertySet& wanted) {
  unsigned sources = 0;
  const auto& columns = columnsBySchema();
  for (size_t i = 0; i < columns.size(); ++i)
    if (wanted.wants(i)) sources |= columns[i]->sources;
  return sources;
}

std::string hostName() {
  std::array<char, 256> name{};
  if (::gethostname(name.data(), name.size() - 1) != 0) return "localhost";
  return name.data();
}

}  // namespace

HostFacts localHostFacts() {
  return HostFacts{hostName(), cgroupFreezerUsable(), "/proc"};
}

SystemdServiceProvider::SystemdServiceProvider(std::unique_ptr<SystemdClient> client,
                                               HostFacts host)
    : client_(std::move(client)), host_(std::move(host)) {
  columnsBySchema();
}

std::vector<PropertyDoc> SystemdServiceProvider::propertyDocs() {
  std::vector<PropertyDoc> docs;
  for (const Column* c : columnsBySchema()) docs.push_back(c->doc);
  return docs;
}

const SchemaPtr& SystemdServiceProvider::schema() const {
  return win32ServiceSchema();
}

void SystemdServiceProvider::readLocalState(UnitRecord& unit) {
  unit.mainStopped = processState(host_.procRoot, unit.mainPid) == 'T';
  unit.carriesBus = !unit.name.empty() && unit.name == client_->busUnit();
}

ManagementObject SystemdServiceProvider::toObject(const UnitRecord& unit, const PropertySet& wanted,
                                                  const std::string& managerUser) const {
  Context context{host_, managerUser};
  ManagementObject object(win32ServiceSchema());
  const auto& columns = columnsBySchema();
  for (size_t i = 0; i < columns.size(); ++i)
    if (wanted.wants(i)) object.setAt(i, columns[i]->read(unit, context));
  return object;
}

void SystemdServiceProvider::enumerate(const PropertySet& wanted,
                                       const std::function<bool(ManagementObject&&)>& sink) {
  std::vector<ManagementObject> objects;
  {
    std::lock_guard lock(mutex_);
    const unsigned sources = sourcesFor(wanted);
    std::vector<UnitRecord> units = client_->listServices();
    client_->readProperties(units, sources & (kUnit | kMain), sources & (kService | kMain));
    const std::string managerUser = (sources & kManager) ? client_->managerUser() : "";
    objects.reserve(units.size());
    for (UnitRecord& unit : units) {
      // A unit file that vanished since the listing answers as not found: leave it out.
      if (unit.unitRead && unit.loadState == "not-found" && unit.activeState == "inactive")
        continue;
      if (sources & kMain) readLocalState(unit);
      objects.push_back(toObject(unit, wanted, managerUser));
    }
  }
  // The sink runs without the lock, so it may call back into this provider.
  for (ManagementObject& object : objects)
    if (!sink(std::move(object))) break;
}

std::optional<ManagementObject> SystemdServiceProvider::get(const std::string& key) {
  std::lock_guard lock(mutex_);
  std::optional<UnitRecord> unit = client_->readUnit(key);
  if (!unit) return std::nullopt;
  readLocalState(*unit);
  return toObject(*unit, PropertySet::all(), client_->managerUser());
}

Value SystemdServiceProvider::invoke(const std::string& key, std::string_view method) {
  std::optional<ServiceMethod> known = parseServiceMethod(method);
  if (!known) return ClassProvider::invoke(key, method);
  std::lock_guard lock(mutex_);
  std::optional<UnitRecord> unit = client_->readUnit(key);
  if (!unit) throw ComError(err::kWbemNotFound, "Not found", "Win32_Service");
  readLocalState(*unit);
  ControlPlan plan = planControl(*known, *unit, host_.freezerUsable);
  if (plan.refusal) return Value::integer(*plan.refusal);
  return Value::integer(carryOut(*known, *unit, plan));
}

int32_t SystemdServiceProvider::carryOut(ServiceMethod method, const UnitRecord& unit,
                                         const ControlPlan& plan) {
  for (UnitAction action : plan.actions) {
    std::optional<BusFailure> failure = client_->control(action, unit.name);
    if (failure && action == UnitAction::Freeze &&
        (isNotSupported(*failure) || isAccessDenied(*failure))) {
      // No freezer under this unit (cgroup v1), or a caller systemd lets kill but never freeze
      // (it asks polkit for KillUnit, not for FreezeUnit): stop its processes with SIGSTOP.
      if (unit.mainPid == 0) return serviceReturn::kCannotAcceptControl;
      failure = client_->control(UnitAction::SignalStop, unit.name);
    }
    if (!failure) continue;
    if (isTransportFailure(*failure)) throw toComError(*failure, "Sending a request to systemd");
    return returnCodeFor(method, *failure);
  }
  return serviceReturn::kSuccess;
}

}  // namespace kestrava::service::systemd
