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
using P = PropertyDef<SystemFacts>;

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
    {"AdminPasswordStatus",
     {"integer", "",
      "SMBIOS type 24 (hardware security), bits 3:2: 0 disabled, 1 enabled, 2 not implemented, 3 "
      "unknown; from `/sys/firmware/dmi/entries/24-0/raw`, readable by root only"},
     [](SystemFacts& f) { return securityStatus(f, 2); }},
    {"AutomaticResetBootOption", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"AutomaticResetCapability", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"BootOptionOnLimit", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"BootOptionOnWatchDog", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"BootROMSupported", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"BootupState", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"Caption", {"string", "", "`uname()` nodename"}, hostname},
    {"ChassisBootupState",
     {"integer", "", "SMBIOS type 3 (chassis), byte 0x09"},
     [](SystemFacts& f) { return smbiosValue(f, smbios::kChassisType, smbios::kBootUpState); }},
    {"CreationClassName",
     {"string", "", "constant `Win32_ComputerSystem`"},
     [](SystemFacts&) { return Value::text("Win32_ComputerSystem"); }},
    {"CurrentTimeZone",
     {"integer", "minutes",
      "the local time zone's offset from UTC now (`localtime_r`, `tm_gmtoff`)"},
     [](SystemFacts&) { return Value::integer(localOffsetMinutes(std::time(nullptr))); }},
    {"DaylightInEffect",
     {"boolean", "", "`tm_isdst` of `localtime_r` now"},
     [](SystemFacts&) {
       std::time_t now = std::time(nullptr);
       std::tm tm{};
       return ::localtime_r(&now, &tm) ? Value::boolean(tm.tm_isdst > 0) : Value::null();
     }},
    {"Description", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"Domain",
     {"string", "",
      "the DNS domain of a fully qualified nodename, else `/proc/sys/kernel/domainname` unless "
      "`(none)`"},
     [](SystemFacts& f) {
       auto nis = readFile(joinPath(f.root().proc, "sys/kernel/domainname"), 256);
       return textOrNull(hostDomain(f.host().hostname, nis ? sys::validUtf8(trimSpace(*nis)) : ""));
     }},
    {"DomainRole", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"FrontPanelResetStatus",
     {"integer", "", "SMBIOS type 24, bits 1:0"},
     [](SystemFacts& f) { return securityStatus(f, 0); }},
    {"InfraredSupported", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"InitialLoadInfo", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"InstallDate", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"KeyboardPasswordStatus",
     {"integer", "", "SMBIOS type 24, bits 5:4"},
     [](SystemFacts& f) { return securityStatus(f, 4); }},
    {"LastLoadInfo", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"Manufacturer",
     {"string", "", "`/sys/class/dmi/id/sys_vendor`"},
     [](SystemFacts& f) { return nonEmptyTextOrNull(f.dmi("sys_vendor")); }},
    {"Model",
     {"string", "", "`/sys/class/dmi/id/product_name`, else `/sys/firmware/devicetree/base/model`"},
     model},
    {"Name", {"string", "", "`uname()` nodename"}, hostname},
    {"NameFormat", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"NetworkModelServerEnabled", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"NetworkServerModeEnabled", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"NumberOfProcessors",
     {"integer", "",
      "the logical processors online (`/sys/devices/system/cpu/online`, else `cpuinfo`), matching "
      "Win32_Processor"},
     [](SystemFacts& f) { return integerOrNull(f.onlineProcessorCount()); }},
    {"OEMLogoBitMap", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"OEMStringArray", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"PauseAfterReset", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"PowerManagementCapabilities", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"PowerManagementSupported", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"PowerOnPasswordStatus",
     {"integer", "", "SMBIOS type 24, bits 7:6"},
     [](SystemFacts& f) { return securityStatus(f, 6); }},
    {"PowerState", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"PowerSupplyState",
     {"integer", "", "SMBIOS type 3, byte 0x0A"},
     [](SystemFacts&
            f) { return smbiosValue(f, smbios::kChassisType, smbios::kPowerSupplyState); }},
    {"PrimaryOwnerContact", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"PrimaryOwnerName", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"ResetCapability", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"ResetCount", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"ResetLimit", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"Roles", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"Status", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"SupportContactDescription", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"SystemStartupDelay", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"SystemStartupOptions", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"SystemStartupSetting", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"SystemStartupSettings", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"SystemType",
     {"string", "", "`uname()` machine (`x86_64`)"},
     [](SystemFacts& f) { return nonEmptyTextOrNull(f.host().machine); }},
    {"ThermalState",
     {"integer", "", "SMBIOS type 3, byte 0x0B"},
     [](SystemFacts& f) { return smbiosValue(f, smbios::kChassisType, smbios::kThermalState); }},
    {"TotalPhysicalMemory",
     {"uint64", "bytes", "`MemTotal` of `/proc/meminfo` × 1024"},
     [](SystemFacts& f) {
       auto kb = f.meminfo().memTotalKb;
       return kb ? decimalText(*kb * 1024) : Value::null();
     }},
    {"UserName",
     {"string", "",
      "the user of the first login record in `/run/utmp` on a local console (`ttyN`, `console`, "
      "`:N`)"},
     [](SystemFacts& f) {
       const auto& s = f.sessions();
       return s ? textOrNull(consoleUser(*s)) : Value::null();
     }},
    {"WakeUpType",
     {"integer", "", "SMBIOS type 1 (system), byte 0x18"},
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

std::vector<PropertyDoc> ComputerSystemProvider::documentation() const {
  return documentTable<SystemFacts>(kProperties);
}

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
