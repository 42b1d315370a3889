#include "service/systemd/ServiceMapping.h"

#include <signal.h>

#include <array>
#include <limits>
#include <utility>

#include "core/ClassSchema.h"
#include "service/systemd/ServiceReturnCode.h"

namespace kestrava::service::systemd {

namespace {

// The coarse phase of a unit, from ActiveState alone.
enum class Phase { Up, Starting, Stopping, Down, Unknown };

Phase phaseOf(std::string_view activeState) {
  static constexpr std::array<std::pair<std::string_view, Phase>, 7> kPhases{{
      {"active", Phase::Up},
      {"reloading", Phase::Up},
      {"activating", Phase::Starting},
      {"deactivating", Phase::Stopping},
      {"inactive", Phase::Down},
      {"failed", Phase::Down},
      {"maintenance", Phase::Down},
  }};
  for (const auto& [name, phase] : kPhases)
    if (name == activeState) return phase;
  return Phase::Unknown;
}

bool needsQuotes(std::string_view arg) {
  if (arg.empty()) return true;
  for (char c : arg)
    if (c == ' ' || c == '\t' || c == '\n' || c == '"' || c == '\'' || c == '\\') return true;
  return false;
}

void appendArgument(std::string& line, std::string_view arg) {
  if (!line.empty()) line += ' ';
  if (!needsQuotes(arg)) {
    line += arg;
    return;
  }
  line += '"';
  for (char c : arg) {
    if (c == '"' || c == '\\') line += '\\';
    line += c;
  }
  line += '"';
}

ControlPlan refuse(int32_t code) {
  return ControlPlan{code, {}};
}
ControlPlan act(std::vector<UnitAction> actions) {
  return ControlPlan{std::nullopt, actions};
}

ControlPlan planStart(const UnitRecord& unit) {
  if (unit.loadState == "masked") return refuse(serviceReturn::kDisabled);
  const Phase phase = phaseOf(unit.activeState);
  if (phase == Phase::Up || phase == Phase::Starting) return refuse(serviceReturn::kAlreadyRunning);
  return act({UnitAction::Start});
}

ControlPlan planStop(const UnitRecord& unit) {
  const Phase phase = phaseOf(unit.activeState);
  if (phase == Phase::Down) return refuse(serviceReturn::kNotActive);
  if (phase == Phase::Stopping || !unit.canStop) return refuse(serviceReturn::kCannotAcceptControl);
  return act({UnitAction::Stop});
}

ControlPlan planPause(const UnitRecord& unit, bool freezerUsable) {
  const Phase phase = phaseOf(unit.activeState);
  if (phase == Phase::Down || phase == Phase::Stopping) return refuse(serviceReturn::kNotActive);
  if (isPaused(unit) || unit.freezerState == "freezing")
    return refuse(serviceReturn::kAlreadyPaused);
  // Paused, the bus daemon could not carry the request that resumes it.
  if (phase != Phase::Up || unit.activeState != "active" || unit.subState != "running" ||
      unit.freezerState != "running" || unit.carriesBus)
    return refuse(serviceReturn::kCannotAcceptControl);
  // The freezer is tried first where systemd offers it; a refusal falls back to SIGSTOP.
  if (unit.canFreeze && (freezerUsable || unit.mainPid > 0)) return act({UnitAction::Freeze});
  if (unit.mainPid > 0) return act({UnitAction::SignalStop});
  return refuse(serviceReturn::kCannotAcceptControl);
}

ControlPlan planResume(const UnitRecord& unit) {
  const bool frozen = unit.freezerState == "frozen" || unit.freezerState == "freezing";
  const bool stopped = unit.mainStopped && unit.mainPid > 0;
  if (frozen && stopped) return act({UnitAction::Thaw, UnitAction::SignalContinue});
  if (frozen) return act({UnitAction::Thaw});
  if (stopped) return act({UnitAction::SignalContinue});
  const Phase phase = phaseOf(unit.activeState);
  if (phase == Phase::Down || phase == Phase::Stopping) return refuse(serviceReturn::kNotActive);
  return refuse(serviceReturn::kCannotAcceptControl);
}

}  // namespace

bool isPaused(const UnitRecord& unit) {
  if (unit.freezerState == "frozen") return true;
  return unit.mainStopped && phaseOf(unit.activeState) == Phase::Up;
}

bool isActive(const UnitRecord& unit) {
  return phaseOf(unit.activeState) == Phase::Up;
}

std::string serviceState(const UnitRecord& unit) {
  if (unit.freezerState == "frozen") return "Paused";
  if (unit.freezerState == "freezing") return "Pause Pending";
  if (unit.freezerState == "thawing") return "Continue Pending";
  switch (phaseOf(unit.activeState)) {
    case Phase::Up:
      return unit.mainStopped ? "Paused" : "Running";
    case Phase::Starting:
      return "Start Pending";
    case Phase::Stopping:
      return "Stop Pending";
    case Phase::Down:
      return "Stopped";
    case Phase::Unknown:
      break;
  }
  return "Unknown";
}

std::string startMode(std::string_view unitFileState) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 13> kModes{{
      {"enabled", "Auto"},
      {"enabled-runtime", "Auto"},
      {"static", "Manual"},
      {"disabled", "Manual"},
      {"indirect", "Manual"},
      {"linked", "Manual"},
      {"linked-runtime", "Manual"},
      {"alias", "Manual"},
      {"generated", "Manual"},
      {"transient", "Manual"},
      {"", "Manual"},
      {"masked", "Disabled"},
      {"masked-runtime", "Disabled"},
  }};
  for (const auto& [state, mode] : kModes)
    if (state == unitFileState) return std::string(mode);
  return "Unknown";
}

std::string serviceStatus(const UnitRecord& unit) {
  if (unit.activeState == "failed" || unit.loadState == "error" || unit.loadState == "bad-setting")
    return "Error";
  if (unit.subState == "auto-restart") return "Degraded";
  return "OK";
}

std::string errorControl(std::string_view failureAction) {
  if (failureAction.empty()) return "Unknown";
  return failureAction == "none" ? "Normal" : "Critical";
}

bool acceptStop(const UnitRecord& unit) {
  return !planStop(unit).refusal;
}

bool acceptPause(const UnitRecord& unit, bool freezerUsable) {
  return !planPause(unit, freezerUsable).refusal;
}

uint32_t waitHintMs(const UnitRecord& unit) {
  const Phase phase = phaseOf(unit.activeState);
  uint64_t usec = phase == Phase::Starting   ? unit.timeoutStartUSec
                  : phase == Phase::Stopping ? unit.timeoutStopUSec
                                             : 0;
  if (usec == std::numeric_limits<uint64_t>::max()) return 0;  // no timeout, so no estimate
  uint64_t ms = usec / 1000;
  return ms > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                   : static_cast<uint32_t>(ms);
}

int32_t exitCode(const UnitRecord& unit) {
  if (unit.execMainCode == CLD_KILLED) {
    switch (unit.execMainStatus) {
      case SIGTERM:
      case SIGINT:
      case SIGHUP:
      case SIGPIPE:
        return 0;
    }
  }
  return unit.execMainStatus;
}

std::string startName(const UnitRecord& unit, std::string_view managerUser) {
  if (!unit.user.empty()) return unit.user;
  constexpr std::string_view kSuffix = ".service";
  if (unit.dynamicUser && unit.name.size() > kSuffix.size() && unit.name.ends_with(kSuffix))
    return unit.name.substr(0, unit.name.size() - kSuffix.size());
  return std::string(managerUser);
}

bool isServiceUnitName(std::string_view name) {
  constexpr std::string_view kSuffix = ".service";
  if (name.size() <= kSuffix.size() || name.size() > 255 || !name.ends_with(kSuffix)) return false;
  if (name.ends_with("@" + std::string(kSuffix)) || name.front() == '.' || name.front() == '@')
    return false;
  for (char c : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!plain && c != ':' && c != '_' && c != '.' && c != '-' && c != '\\' && c != '@')
      return false;
  }
  return true;
}

std::string joinCommandLine(std::string_view path, const std::vector<std::string>& argv) {
  std::string line;
  appendArgument(line, path);
  for (size_t i = 1; i < argv.size(); ++i) appendArgument(line, argv[i]);
  return line;
}

std::optional<ServiceMethod> parseServiceMethod(std::string_view name) {
  static constexpr std::array<std::pair<std::string_view, ServiceMethod>, 4> kMethods{{
      {"StartService", ServiceMethod::Start},
      {"StopService", ServiceMethod::Stop},
      {"PauseService", ServiceMethod::Pause},
      {"ResumeService", ServiceMethod::Resume},
  }};
  for (const auto& [methodName, method] : kMethods)
    if (equalsIgnoreCase(methodName, name)) return method;
  return std::nullopt;
}

ControlPlan planControl(ServiceMethod method, const UnitRecord& unit, bool freezerUsable) {
  switch (method) {
    case ServiceMethod::Start:
      return planStart(unit);
    case ServiceMethod::Stop:
      return planStop(unit);
    case ServiceMethod::Pause:
      return planPause(unit, freezerUsable);
    case ServiceMethod::Resume:
      return planResume(unit);
  }
  return refuse(serviceReturn::kNotSupported);
}

}  // namespace kestrava::service::systemd
