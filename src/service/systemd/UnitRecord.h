#pragma once

#include <cstdint>
#include <string>

namespace kestrava::service::systemd {

// What systemd says about one service unit, as read from the bus (and /proc for the main
// process's run state). Fields a read did not reach keep their defaults.
struct UnitRecord {
  std::string name;
  std::string id;  // the name systemd answers to; differs from name for an alias
  std::string description;
  std::string loadState;
  std::string activeState;
  std::string subState;
  std::string freezerState = "running";
  std::string unitFileState;
  std::string failureAction;
  bool canStop = false;
  bool canFreeze = false;

  uint32_t mainPid = 0;
  int32_t execMainCode = 0;    // how the main process ended: CLD_EXITED, CLD_KILLED, CLD_DUMPED
  int32_t execMainStatus = 0;  // its exit status, or the signal that ended it
  bool hasExecStart = false;
  std::string execStart;  // the command line(s) of ExecStart=, as a shell would show them
  std::string user;
  bool dynamicUser = false;
  uint64_t timeoutStartUSec = 0;
  uint64_t timeoutStopUSec = 0;

  bool listed = false;       // loaded: ListUnits reported it
  bool unitRead = false;     // org.freedesktop.systemd1.Unit properties answered
  bool serviceRead = false;  // org.freedesktop.systemd1.Service properties answered
  bool mainStopped = false;  // the main process is stopped by a signal (state T)
  bool carriesBus = false;   // it runs the bus daemon that carries these very requests
};

}  // namespace kestrava::service::systemd
