#pragma once

#include <ostream>
#include <string_view>

#include "core/Connection.h"
#include "query/ObjectWriter.h"

namespace kestrava::query {

// Writes events as they come, one per line (CSV: one row per changed property):
//   table  2026-12-09T12:00:00  Win32_Service='cron.service'  State: Running -> Stopped
//          2026-12-09T12:00:02  Win32_Process='4242'  created        (or deleted)
//   csv    Time,Path,Property,Previous,Current,Event   (Event: created, modified or deleted)
//   json   {"time":"...","event":"__InstanceModificationEvent","path":"...",
//           "TargetInstance":{...},"PreviousInstance":{...}}
// Naming computers, each line has the computer after the time (CSV: a Computer column, JSON: a
// "computer" member).
class EventWriter {
 public:
  EventWriter(OutputFormat format, std::ostream& out, bool namesComputer = false)
      : format_(format), out_(out), namesComputer_(namesComputer) {}

  void write(const EventObject& event, std::string_view time, std::string_view computer = {});

 private:
  OutputFormat format_;
  std::ostream& out_;
  bool namesComputer_;
  bool headerWritten_ = false;
};

}  // namespace kestrava::query
