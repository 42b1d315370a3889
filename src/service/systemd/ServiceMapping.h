#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "service/systemd/UnitRecord.h"

namespace kestrava::service::systemd {

// How systemd's view of a service unit becomes the properties of a Win32_Service instance.
// Pure functions over a UnitRecord, so every rule is testable without a service manager.

// "Stopped", "Start Pending", "Stop Pending", "Running", "Continue Pending", "Pause Pending",
// "Paused" or "Unknown", from ActiveState, SubState, FreezerState and the main process's state.
std::string serviceState(const UnitRecord& unit);
bool isPaused(const UnitRecord& unit);
bool isActive(const UnitRecord& unit);

// "Auto", "Manual", "Disabled" or "Unknown" from the unit file state.
std::string startMode(std::string_view unitFileState);
// "OK", "Degraded" or "Error".
std::string serviceStatus(const UnitRecord& unit);
// "Normal" when a failure only fails the unit, "Critical" when it takes the machine down.
std::string errorControl(std::string_view failureAction);
// Whether a stop, or a pause, would be carried out now.
bool acceptStop(const UnitRecord& unit);
bool acceptPause(const UnitRecord& unit, bool freezerUsable);
// Milliseconds the pending start or stop may still take; 0 when nothing is pending.
uint32_t waitHintMs(const UnitRecord& unit);
// The account the service runs as: User=, the dynamic user, or the manager's own account.
std::string startName(const UnitRecord& unit, std::string_view managerUser);

// The main process's exit code; 0 when a signal that systemd counts as a clean end (SIGTERM,
// SIGINT, SIGHUP, SIGPIPE) ended it, as when the service was stopped.
int32_t exitCode(const UnitRecord& unit);

// A service unit's full name that systemd could know ("ssh.service", "getty@tty1.service"); not a
// template ("getty@.service"), nothing that could name a path or carry a quote.
bool isServiceUnitName(std::string_view name);

// One command as a command line shows it: arguments with blanks or quotes in double quotes.
std::string joinCommandLine(std::string_view path, const std::vector<std::string>& argv);

enum class ServiceMethod { Start, Stop, Pause, Resume };
std::optional<ServiceMethod> parseServiceMethod(std::string_view name);

// What a control method does to a unit: a refusal code, or the bus calls to make in order.
enum class UnitAction { Start, Stop, Freeze, SignalStop, Thaw, SignalContinue };
struct ControlPlan {
  std::optional<int32_t> refusal;
  std::vector<UnitAction> actions;
};
ControlPlan planControl(ServiceMethod method, const UnitRecord& unit, bool freezerUsable);

}  // namespace kestrava::service::systemd
