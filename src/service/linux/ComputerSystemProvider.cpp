#include "service/linux/ComputerSystemProvider.h"

#include <array>
#include <ctime>

#include "service/linux/CimDateTime.h"
#include "service/linux/FileAccess.h"
#include "service/linux/Smbios.h"
#include "service/linux/SystemFacts.h"
#include "sys/Utf8.h"

namespace kestrava::service::linuxsys {

namespace {
using P = PropertySpec<SystemFacts>;

Value smbiosValue(SystemFacts& f, int type, size_t offset) {
  return integerOrNull(smbiosByte(f.smbios(type), offset));
}

// One two-bit field of the SMBIOS hardware security settings: 0 disabled, 1 enabled, 2 not
// implemented, 3 unknown, the class's own codes.
Value securityStatus(SystemFacts& f, int shift) {
  auto settings = smbiosByte(f.smbios(smbios::kHardwareSecurityType), smbios::kSecuritySettings);
  return settings ? Value::integer((*settings >> shift) & 3) : Value::null();
}

Value hostname(SystemFacts& f) {
  return nonEmptyTextOrNull(f.host().hostname);
}

Value model(SystemFacts& f) {
  std::string name = f.dmi("product_name");
  if (name.empty()) {  // device-tree machines name their board here
    auto dt = readFile(joinPath(f.root().sys, "firmware/devicetree/base/model"), 4096);
    if (dt) name = sys::validUtf8(trimSpace(std::string_view(dt->c_str())));
  }
  return nonEmptyTextOrNull(name);
}

constexpr auto kProperties = std::to_array<P>({
    {"AdminPasswordStatus", [](SystemFacts& f) { return securityStatus(f, 2); }},
    {"AutomaticResetBootOption", [](SystemFacts&) { return nullValue(); }},
    {"AutomaticResetCapability", [](SystemFacts&) { return nullValue(); }},
    {"BootOptionOnLimit", [](SystemFacts&) { return nullValue(); }},
    {"BootOptionOnWatchDog", [](SystemFacts&) { return nullValue(); }},
    {"BootROMSupported", [](SystemFacts&) { return nullValue(); }},
    {"BootupState", [](SystemFacts&) { return nullValue(); }},
    {"Caption", hostname},
    {"ChassisBootupState",
     [](SystemFacts& f) { return smbiosValue(f, smbios::kChassisType, smbios::kBootUpState); }},
    {"CreationClassName", [](SystemFacts&) { return Value::text("Win32_ComputerSystem"); }},
    {"CurrentTimeZone",
     [](SystemFacts&) { return Value::integer(localOffsetMinutes(std::time(nullptr))); }},
    {"DaylightInEffect",
     [](SystemFacts&) {
       std::time_t now = std::time(nullptr);
       std::tm tm{};
       return ::localtime_r(&now, &tm) ? Value::boolean(tm.tm_isdst > 0) : Value::null();
     }},
    {"Description", [](SystemFacts&) { return nullValue(); }},
    {"Domain",
     [](SystemFacts& f) {
       auto nis = readFile(joinPath(f.root().proc, "sys/kernel/domainname"), 256);
       return textOrNull(hostDomain(f.host().hostname, nis ? sys::validUtf8(trimSpace(*nis)) : ""));
     }},
    {"DomainRole", [](SystemFacts&) { return nullValue(); }},
    {"FrontPanelResetStatus", [](SystemFacts& f) { return securityStatus(f, 0); }},
    {"InfraredSupported", [](SystemFacts&) { return nullValue(); }},
    {"InitialLoadInfo", [](SystemFacts&) { return nullValue(); }},
    {"InstallDate", [](SystemFacts&) { return nullValue(); }},
    {"KeyboardPasswordStatus", [](SystemFacts& f) { return securityStatus(f, 4); }},
    {"LastLoadInfo", [](SystemFacts&) { return nullValue(); }},
    {"Manufacturer", [](SystemFacts& f) { return nonEmptyTextOrNull(f.dmi("sys_vendor")); }},
    {"Model", model},
    {"Name", hostname},
    {"NameFormat", [](SystemFacts&) { return nullValue(); }},
    {"NetworkModelServerEnabled", [](SystemFacts&) { return nullValue(); }},
    {"NetworkServerModeEnabled", [](SystemFacts&) { return nullValue(); }},
    {"NumberOfProcessors", [](SystemFacts& f) { return integerOrNull(f.onlineProcessorCount()); }},
    {"OEMLogoBitMap", [](SystemFacts&) { return nullValue(); }},
    {"OEMStringArray", [](SystemFacts&) { return nullValue(); }},
    {"PauseAfterReset", [](SystemFacts&) { return nullValue(); }},
    {"PowerManagementCapabilities", [](SystemFacts&) { return nullValue(); }},
    {"PowerManagementSupported", [](SystemFacts&) { return nullValue(); }},
    {"PowerOnPasswordStatus", [](SystemFacts& f) { return securityStatus(f, 6); }},
    {"PowerState", [](SystemFacts&) { return nullValue(); }},
    {"PowerSupplyState",
     [](SystemFacts& f) { return smbiosValue(f, smbios::kChassisType, smbios::kPowerSupplyState); }},
    {"PrimaryOwnerContact", [](SystemFacts&) { return nullValue(); }},
    {"PrimaryOwnerName", [](SystemFacts&) { return nullValue(); }},
    {"ResetCapability", [](SystemFacts&) { return nullValue(); }},
    {"ResetCount", [](SystemFacts&) { return nullValue(); }},
    {"ResetLimit", [](SystemFacts&) { return nullValue(); }},
    {"Roles", [](SystemFacts&) { return nullValue(); }},
    {"Status", [](SystemFacts&) { return nullValue(); }},
    {"SupportContactDescription", [](SystemFacts&) { return nullValue(); }},
    {"SystemStartupDelay", [](SystemFacts&) { return nullValue(); }},
    {"SystemStartupOptions", [](SystemFacts&) { return nullValue(); }},
    {"SystemStartupSetting", [](SystemFacts&) { return nullValue(); }},
    {"SystemStartupSettings", [](SystemFacts&) { return nullValue(); }},
    {"SystemType", [](SystemFacts& f) { return nonEmptyTextOrNull(f.host().machine); }},
    {"ThermalState",
     [](SystemFacts& f) { return smbiosValue(f, smbios::kChassisType, smbios::kThermalState); }},
    {"TotalPhysicalMemory",
     [](SystemFacts& f) {
       auto kb = f.meminfo().memTotalKb;
       return kb ? decimalText(*kb * 1024) : Value::null();
     }, kInteger64},
    {"UserName",
     [](SystemFacts& f) {
       const auto& s = f.sessions();
       return s ? textOrNull(consoleUser(*s)) : Value::null();
     }},
    {"WakeUpType",
     [](SystemFacts& f) { return smbiosValue(f, smbios::kSystemType, smbios::kWakeUpType); }},
});
}  // namespace

std::optional<std::string> hostDomain(const std::string& hostname, const std::string& nisDomain) {
  if (size_t dot = hostname.find('.'); dot != std::string::npos && dot + 1 < hostname.size())
    return hostname.substr(dot + 1);
  if (!nisDomain.empty() && nisDomain != "(none)") return nisDomain;
  return std::nullopt;
}

ComputerSystemProvider::ComputerSystemProvider(SystemRoot root) : root_(std::move(root)) {}

const SchemaPtr& ComputerSystemProvider::schema() const {
  static const SchemaPtr s = makeSchema<SystemFacts>("Win32_ComputerSystem", "Name", kProperties);
  return s;
}

void ComputerSystemProvider::enumerate(const PropertySet& wanted,
                                       const std::function<bool(ManagementObject&&)>& sink) {
  SystemFacts facts(root_);
  sink(buildObject<SystemFacts>(schema(), kProperties, wanted, facts));
}

}  // namespace kestrava::service::linuxsys
