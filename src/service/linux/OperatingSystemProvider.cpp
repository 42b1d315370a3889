#include "service/linux/OperatingSystemProvider.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <array>
#include <chrono>
#include <ctime>

#include "service/linux/CimDateTime.h"
#include "service/linux/FileAccess.h"
#include "service/linux/SystemFacts.h"

namespace kestrava::service::linuxsys {

namespace {
using P = PropertySpec<SystemFacts>;

Value osName(SystemFacts& f) {
  return Value::text(osPrettyName(f.osRelease()));
}

Value kilobytes(std::optional<uint64_t> a, std::optional<uint64_t> b = uint64_t{0}) {
  return a && b ? decimalText(*a + *b) : Value::null();
}

Value rootSource(SystemFacts& f) {
  return textOrNull(mountSource(f.mounts(), "/"));
}

Value installDate(SystemFacts& f) {
  struct statx sx {};
  if (::statx(AT_FDCWD, f.root().root.c_str(), 0, STATX_BTIME, &sx) != 0 ||
      !(sx.stx_mask & STATX_BTIME) || sx.stx_btime.tv_sec == 0)
    return Value::null();
  return Value::text(
      cimLocalDateTime(sx.stx_btime.tv_sec, static_cast<int32_t>(sx.stx_btime.tv_nsec / 1000)));
}

Value localDateTime(SystemFacts&) {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
  return Value::text(
      cimLocalDateTime(micros / 1'000'000, static_cast<int32_t>(micros % 1'000'000)));
}

constexpr auto kProperties = std::to_array<P>({
    {"BootDevice",
     [](SystemFacts& f) {
       auto boot = mountSource(f.mounts(), "/boot");
       return boot ? Value::text(*boot) : rootSource(f);
     }},
    {"BuildNumber", [](SystemFacts& f) { return textOrNull(kernelBuildNumber(f.host().version)); }},
    {"BuildType", [](SystemFacts& f) { return nonEmptyTextOrNull(f.host().version); }},
    {"Caption", osName},
    {"CodeSet", [](SystemFacts& f) { return nonEmptyTextOrNull(localeCodeSet(f.systemLang())); }},
    {"CountryCode", [](SystemFacts&) { return nullValue(); }},
    {"CreationClassName", [](SystemFacts&) { return Value::text("Win32_OperatingSystem"); }},
    {"CSCreationClassName", [](SystemFacts&) { return Value::text("Win32_ComputerSystem"); }},
    {"CSDVersion", [](SystemFacts&) { return nullValue(); }},
    {"CSName", [](SystemFacts& f) { return nonEmptyTextOrNull(f.host().hostname); }},
    {"CurrentTimeZone",
     [](SystemFacts&) { return Value::integer(localOffsetMinutes(std::time(nullptr))); }},
    {"Debug",
     [](SystemFacts& f) {
       const auto& c = f.kernelCommandLine();
       return c ? Value::boolean(hasKernelParameter(*c, "debug")) : Value::null();
     }},
    {"Description",
     [](SystemFacts& f) {
       auto it = f.machineInfo().find("PRETTY_HOSTNAME");
       return it == f.machineInfo().end() ? Value::null() : nonEmptyTextOrNull(it->second);
     }},
    {"Distributed", [](SystemFacts&) { return Value::boolean(false); }},
    {"ForegroundApplicationBoost", [](SystemFacts&) { return nullValue(); }},
    {"FreePhysicalMemory", [](SystemFacts& f) { return kilobytes(f.meminfo().availableKb()); },
     kInteger64},
    {"FreeSpaceInPagingFiles", [](SystemFacts& f) { return kilobytes(f.meminfo().swapFreeKb); },
     kInteger64},
    {"FreeVirtualMemory",
     [](SystemFacts& f) { return kilobytes(f.meminfo().availableKb(), f.meminfo().swapFreeKb); },
     kInteger64},
    {"InstallDate", installDate},
    {"LastBootUpTime",
     [](SystemFacts& f) {
       const auto& boot = f.kernelStat().bootTime;
       return boot ? Value::text(cimLocalDateTime(*boot)) : Value::null();
     }},
    {"LocalDateTime", localDateTime},
    {"Locale", [](SystemFacts& f) { return nonEmptyTextOrNull(localeName(f.systemLang())); }},
    {"Manufacturer",
     [](SystemFacts& f) {
       auto it = f.osRelease().find("VENDOR_NAME");
       return it == f.osRelease().end() ? Value::null() : nonEmptyTextOrNull(it->second);
     }},
    {"MaxNumberOfProcesses",
     [](SystemFacts& f) { return integerOrNull(f.readProcNumber("sys/kernel/pid_max")); }},
    {"MaxProcessMemorySize", [](SystemFacts&) { return nullValue(); }, kInteger64},
    {"Name", osName},
    {"NumberOfLicensedUsers", [](SystemFacts&) { return nullValue(); }},
    {"NumberOfProcesses", [](SystemFacts& f) { return integerOrNull(f.processCount()); }},
    {"NumberOfUsers",
     [](SystemFacts& f) {
       const auto& s = f.sessions();
       return s ? Value::integer(static_cast<int64_t>(s->size())) : Value::null();
     }},
    {"Organization", [](SystemFacts&) { return nullValue(); }},
    {"OSLanguage", [](SystemFacts&) { return nullValue(); }},
    {"OSProductSuite", [](SystemFacts&) { return nullValue(); }},
    {"OSType", [](SystemFacts&) { return Value::integer(36); }},  // LINUX in the class's list
    {"OtherTypeDescription", [](SystemFacts&) { return nullValue(); }},
    {"PlusProductID", [](SystemFacts&) { return nullValue(); }},
    {"PlusVersionNumber", [](SystemFacts&) { return nullValue(); }},
    {"Primary", [](SystemFacts&) { return Value::boolean(true); }},
    {"QuantumLength", [](SystemFacts&) { return nullValue(); }},
    {"QuantumType", [](SystemFacts&) { return nullValue(); }},
    {"RegisteredUser", [](SystemFacts&) { return nullValue(); }},
    {"SerialNumber", [](SystemFacts&) { return nullValue(); }},
    {"ServicePackMajorVersion", [](SystemFacts&) { return nullValue(); }},
    {"ServicePackMinorVersion", [](SystemFacts&) { return nullValue(); }},
    {"SizeStoredInPagingFiles", [](SystemFacts& f) { return kilobytes(f.meminfo().swapTotalKb); },
     kInteger64},
    {"Status", [](SystemFacts&) { return nullValue(); }},
    {"SystemDevice", rootSource},
    {"SystemDirectory", [](SystemFacts&) { return nullValue(); }},
    {"TotalSwapSpaceSize", [](SystemFacts& f) { return kilobytes(f.meminfo().swapTotalKb); },
     kInteger64},
    {"TotalVirtualMemorySize",
     [](SystemFacts& f) { return kilobytes(f.meminfo().memTotalKb, f.meminfo().swapTotalKb); },
     kInteger64},
    {"TotalVisibleMemorySize", [](SystemFacts& f) { return kilobytes(f.meminfo().memTotalKb); },
     kInteger64},
    {"Version", [](SystemFacts& f) { return nonEmptyTextOrNull(f.host().release); }},
    {"WindowsDirectory", [](SystemFacts&) { return nullValue(); }},
});
}  // namespace

std::optional<std::string> kernelBuildNumber(std::string_view version) {
  if (!version.starts_with('#')) return std::nullopt;
  version.remove_prefix(1);
  std::string_view digits = version.substr(0, version.find(' '));
  return isAllDigits(digits) ? std::optional<std::string>(digits) : std::nullopt;
}

OperatingSystemProvider::OperatingSystemProvider(SystemRoot root) : root_(std::move(root)) {}

const SchemaPtr& OperatingSystemProvider::schema() const {
  static const SchemaPtr s = makeSchema<SystemFacts>("Win32_OperatingSystem", "Name", kProperties);
  return s;
}

void OperatingSystemProvider::enumerate(const PropertySet& wanted,
                                        const std::function<bool(ManagementObject&&)>& sink) {
  SystemFacts facts(root_);
  sink(buildObject<SystemFacts>(schema(), kProperties, wanted, facts));
}

}  // namespace kestrava::service::linuxsys
