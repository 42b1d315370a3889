#include "service/systemd/UnitPropertyParser.h"

#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "service/systemd/ServiceMapping.h"

namespace kestrava::service::systemd {

namespace {

struct ExecCommands {};  // ExecStart=, a(sasbttttuii)
using Target = std::variant<std::string UnitRecord::*, bool UnitRecord::*, uint32_t UnitRecord::*,
                            int32_t UnitRecord::*, uint64_t UnitRecord::*, ExecCommands>;

struct Field {
  std::string_view property;
  std::string_view signature;
  Target target;
};

// The properties Win32_Service needs, from both interfaces (their names do not overlap).
const std::array<Field, 18> kFields{{
    {"Id", "s", &UnitRecord::id},
    {"Description", "s", &UnitRecord::description},
    {"LoadState", "s", &UnitRecord::loadState},
    {"ActiveState", "s", &UnitRecord::activeState},
    {"SubState", "s", &UnitRecord::subState},
    {"FreezerState", "s", &UnitRecord::freezerState},
    {"UnitFileState", "s", &UnitRecord::unitFileState},
    {"FailureAction", "s", &UnitRecord::failureAction},
    {"CanStop", "b", &UnitRecord::canStop},
    {"CanFreeze", "b", &UnitRecord::canFreeze},
    {"MainPID", "u", &UnitRecord::mainPid},
    {"ExecMainCode", "i", &UnitRecord::execMainCode},
    {"ExecMainStatus", "i", &UnitRecord::execMainStatus},
    {"ExecStart", "a(sasbttttuii)", ExecCommands{}},
    {"User", "s", &UnitRecord::user},
    {"DynamicUser", "b", &UnitRecord::dynamicUser},
    {"TimeoutStartUSec", "t", &UnitRecord::timeoutStartUSec},
    {"TimeoutStopUSec", "t", &UnitRecord::timeoutStopUSec},
}};

const Field* findField(std::string_view property) {
  for (const Field& f : kFields)
    if (f.property == property) return &f;
  return nullptr;
}

int readStrings(sd_bus_message* m, std::vector<std::string>& out) {
  int r = sd_bus_message_enter_container(m, 'a', "s");
  if (r < 0) return r;
  const char* s = nullptr;
  while ((r = sd_bus_message_read_basic(m, 's', &s)) > 0) out.emplace_back(s);
  if (r < 0) return r;
  return sd_bus_message_exit_container(m);
}

int readExecCommands(sd_bus_message* m, UnitRecord& record) {
  int r = sd_bus_message_enter_container(m, 'a', "(sasbttttuii)");
  if (r < 0) return r;
  std::string lines;
  while ((r = sd_bus_message_enter_container(m, 'r', "sasbttttuii")) > 0) {
    const char* path = nullptr;
    std::vector<std::string> argv;
    if ((r = sd_bus_message_read_basic(m, 's', &path)) < 0) return r;
    if ((r = readStrings(m, argv)) < 0) return r;
    if ((r = sd_bus_message_skip(m, "bttttuii")) < 0) return r;
    if ((r = sd_bus_message_exit_container(m)) < 0) return r;
    if (!lines.empty()) lines += "; ";
    lines += joinCommandLine(path, argv);
  }
  if (r < 0) return r;
  record.hasExecStart = !lines.empty();
  record.execStart = std::move(lines);
  return sd_bus_message_exit_container(m);
}

// Reads one basic value of the field's type into the record.
int readValue(sd_bus_message* m, const Field& field, UnitRecord& record) {
  return std::visit(
      [&](auto target) -> int {
        using T = decltype(target);
        if constexpr (std::is_same_v<T, ExecCommands>) {
          return readExecCommands(m, record);
        } else if constexpr (std::is_same_v<T, std::string UnitRecord::*>) {
          const char* s = nullptr;
          int r = sd_bus_message_read_basic(m, 's', &s);
          if (r > 0) record.*target = s;
          return r;
        } else if constexpr (std::is_same_v<T, bool UnitRecord::*>) {
          int b = 0;
          int r = sd_bus_message_read_basic(m, 'b', &b);
          if (r > 0) record.*target = b != 0;
          return r;
        } else {
          using V = std::remove_reference_t<decltype(record.*target)>;
          V v{};
          int r = sd_bus_message_read_basic(m, field.signature[0], &v);
          if (r > 0) record.*target = v;
          return r;
        }
      },
      field.target);
}

int readVariant(sd_bus_message* m, const Field* field, UnitRecord& record) {
  char type = 0;
  const char* contents = nullptr;
  int r = sd_bus_message_peek_type(m, &type, &contents);
  if (r <= 0) return r < 0 ? r : -EBADMSG;
  if (type != 'v' || !contents || !field || field->signature != contents)
    return sd_bus_message_skip(m, "v");
  if ((r = sd_bus_message_enter_container(m, 'v', contents)) < 0) return r;
  if ((r = readValue(m, *field, record)) < 0) return r;
  return sd_bus_message_exit_container(m);
}

}  // namespace

bool parseUnitProperties(sd_bus_message* reply, UnitRecord& record) {
  int r = sd_bus_message_enter_container(reply, 'a', "{sv}");
  if (r <= 0) return false;
  while ((r = sd_bus_message_enter_container(reply, 'e', "sv")) > 0) {
    const char* property = nullptr;
    if (sd_bus_message_read_basic(reply, 's', &property) <= 0) return false;
    if (readVariant(reply, findField(property), record) < 0) return false;
    if (sd_bus_message_exit_container(reply) < 0) return false;
  }
  if (r < 0) return false;
  return sd_bus_message_exit_container(reply) >= 0;
}

}  // namespace kestrava::service::systemd
