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
using P = PropertyDef<SystemFacts>;

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
     {"string", "", "mount source of `/boot`, else of `/`"},
     [](SystemFacts& f) {
       auto boot = mountSource(f.mounts(), "/boot");
       return boot ? Value::text(*boot) : rootSource(f);
     }},
    {"BuildNumber",
     {"string", "", "the build count of `uname()` version (`#1 SMP ...` → `1`)"},
     [](SystemFacts& f) { return textOrNull(kernelBuildNumber(f.host().version)); }},
    {"BuildType",
     {"string", "", "`uname()` version"},
     [](SystemFacts& f) { return nonEmptyTextOrNull(f.host().version); }},
    {"Caption",
     {"string", "",
      "`PRETTY_NAME` of `/etc/os-release` (or `/usr/lib/os-release`), else `NAME`, else `Linux`"},
     osName},
    {"CodeSet",
     {"string", "",
      "the code set of the system locale's `LANG` (`/etc/locale.conf`, else "
      "`/etc/default/locale`): `UTF-8` of `en_US.UTF-8`"},
     [](SystemFacts& f) { return nonEmptyTextOrNull(localeCodeSet(f.systemLang())); }},
    {"CountryCode", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"CreationClassName",
     {"string", "", "constant `Win32_OperatingSystem`"},
     [](SystemFacts&) { return Value::text("Win32_OperatingSystem"); }},
    {"CSCreationClassName",
     {"string", "", "constant `Win32_ComputerSystem`"},
     [](SystemFacts&) { return Value::text("Win32_ComputerSystem"); }},
    {"CSDVersion", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"CSName",
     {"string", "", "`uname()` nodename"},
     [](SystemFacts& f) { return nonEmptyTextOrNull(f.host().hostname); }},
    {"CurrentTimeZone",
     {"integer", "minutes", "the local time zone's offset from UTC now"},
     [](SystemFacts&) { return Value::integer(localOffsetMinutes(std::time(nullptr))); }},
    {"Debug",
     {"boolean", "", "the word `debug` on the kernel command line (`/proc/cmdline`)"},
     [](SystemFacts& f) {
       const auto& c = f.kernelCommandLine();
       return c ? Value::boolean(hasKernelParameter(*c, "debug")) : Value::null();
     }},
    {"Description",
     {"string", "", "`PRETTY_HOSTNAME` of `/etc/machine-info`"},
     [](SystemFacts& f) {
       auto it = f.machineInfo().find("PRETTY_HOSTNAME");
       return it == f.machineInfo().end() ? Value::null() : nonEmptyTextOrNull(it->second);
     }},
    {"Distributed",
     {"boolean", "", "constant false"},
     [](SystemFacts&) { return Value::boolean(false); }},
    {"ForegroundApplicationBoost", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"FreePhysicalMemory",
     {"uint64", "kilobytes",
      "`MemAvailable` of `/proc/meminfo` (`MemFree` on kernels before 3.14)"},
     [](SystemFacts& f) { return kilobytes(f.meminfo().availableKb()); }},
    {"FreeSpaceInPagingFiles",
     {"uint64", "kilobytes", "`SwapFree`"},
     [](SystemFacts& f) { return kilobytes(f.meminfo().swapFreeKb); }},
    {"FreeVirtualMemory",
     {"uint64", "kilobytes", "FreePhysicalMemory + `SwapFree`"},
     [](SystemFacts& f) { return kilobytes(f.meminfo().availableKb(), f.meminfo().swapFreeKb); }},
    {"InstallDate",
     {"datetime", "", "birth time of the root directory `/`, where the file system keeps it"},
     installDate},
    {"LastBootUpTime",
     {"datetime", "", "`btime` of `/proc/stat`"},
     [](SystemFacts& f) {
       const auto& boot = f.kernelStat().bootTime;
       return boot ? Value::text(cimLocalDateTime(*boot)) : Value::null();
     }},
    {"LocalDateTime", {"datetime", "", "the clock now"}, localDateTime},
    {"Locale",
     {"string", "", "the system locale's `LANG` without code set and modifier (`en_US`)"},
     [](SystemFacts& f) { return nonEmptyTextOrNull(localeName(f.systemLang())); }},
    {"Manufacturer",
     {"string", "", "`VENDOR_NAME` of os-release"},
     [](SystemFacts& f) {
       auto it = f.osRelease().find("VENDOR_NAME");
       return it == f.osRelease().end() ? Value::null() : nonEmptyTextOrNull(it->second);
     }},
    {"MaxNumberOfProcesses",
     {"integer", "", "`/proc/sys/kernel/pid_max`"},
     [](SystemFacts& f) { return integerOrNull(f.readProcNumber("sys/kernel/pid_max")); }},
    {"MaxProcessMemorySize",
     {"null", "", "none"},
     [](SystemFacts&) { return nullValue(); },
     kInteger64},
    {"Name", {"string", "", "as Caption"}, osName},
    {"NumberOfLicensedUsers", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"NumberOfProcesses",
     {"integer", "", "numeric directories of `/proc`"},
     [](SystemFacts& f) { return integerOrNull(f.processCount()); }},
    {"NumberOfUsers",
     {"integer", "", "login records (`USER_PROCESS`) in `/run/utmp`; null without a readable utmp"},
     [](SystemFacts& f) {
       const auto& s = f.sessions();
       return s ? Value::integer(static_cast<int64_t>(s->size())) : Value::null();
     }},
    {"Organization", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"OSLanguage", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"OSProductSuite", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"OSType",
     {"integer", "", "constant 36 (LINUX in the class's list)"},
     [](SystemFacts&) { return Value::integer(36); }},  // LINUX in the class's list
    {"OtherTypeDescription", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"PlusProductID", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"PlusVersionNumber", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"Primary",
     {"boolean", "", "constant true"},
     [](SystemFacts&) { return Value::boolean(true); }},
    {"QuantumLength", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"QuantumType", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"RegisteredUser", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"SerialNumber",
     {"null", "", "none (the machine ID is meant to stay confidential, so it is not shown)"},
     [](SystemFacts&) { return nullValue(); }},
    {"ServicePackMajorVersion", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"ServicePackMinorVersion", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"SizeStoredInPagingFiles",
     {"uint64", "kilobytes", "`SwapTotal`"},
     [](SystemFacts& f) { return kilobytes(f.meminfo().swapTotalKb); }},
    {"Status", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"SystemDevice", {"string", "", "mount source of `/`"}, rootSource},
    {"SystemDirectory", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
    {"TotalSwapSpaceSize",
     {"uint64", "kilobytes", "`SwapTotal`"},
     [](SystemFacts& f) { return kilobytes(f.meminfo().swapTotalKb); }},
    {"TotalVirtualMemorySize",
     {"uint64", "kilobytes", "`MemTotal` + `SwapTotal`"},
     [](SystemFacts& f) { return kilobytes(f.meminfo().memTotalKb, f.meminfo().swapTotalKb); }},
    {"TotalVisibleMemorySize",
     {"uint64", "kilobytes", "`MemTotal`"},
     [](SystemFacts& f) { return kilobytes(f.meminfo().memTotalKb); }},
    {"Version",
     {"string", "", "`uname()` release (the kernel version)"},
     [](SystemFacts& f) { return nonEmptyTextOrNull(f.host().release); }},
    {"WindowsDirectory", {"null", "", "none"}, [](SystemFacts&) { return nullValue(); }},
});
}  // namespace

std::optional<std::string> kernelBuildNumber(std::string_view version) {
  if (!version.starts_with('#')) return std::nullopt;
  version.remove_prefix(1);
  std::string_view digits = version.substr(0, version.find(' '));
  return isAllDigits(digits) ? std::optional<std::string>(digits) : std::nullopt;
}

OperatingSystemProvider::OperatingSystemProvider(SystemRoot root) : root_(std::move(root)) {}

std::vector<PropertyDoc> OperatingSystemProvider::documentation() const {
  return documentTable<SystemFacts>(kProperties);
}

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
