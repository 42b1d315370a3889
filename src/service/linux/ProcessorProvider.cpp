#include "service/linux/ProcessorProvider.h"

#include <array>
#include <cmath>
#include <map>

#include "service/linux/CpuInfo.h"
#include "service/linux/CpuSysfs.h"
#include "service/linux/FileAccess.h"
#include "service/linux/HostInfo.h"
#include "service/linux/PropertyTable.h"
#include "sys/Utf8.h"

namespace kestrava::service::linuxsys {

namespace {
// What all processors of one enumeration share.
struct ProcessorContext {
  const SystemRoot& root;
  CpuLoadSampler& sampler;
  Lazy<HostInfo> host;
  Lazy<std::map<int64_t, int64_t>> loads;

  const HostInfo& hostInfo() {
    return host.get([&] { return HostInfo::read(root); });
  }
};

// One logical processor: its /proc/cpuinfo block (absent while offline) and its sysfs directory.
struct ProcessorRecord {
  ProcessorContext& context;
  int64_t cpu;
  const CpuInfoEntry* info;
  Lazy<CpuSysfs> sysfsInfo;

  const CpuSysfs& sysfs() {
    return sysfsInfo.get([&] {
      return CpuSysfs::read(
          joinPath(context.root.sys, "devices/system/cpu/cpu" + std::to_string(cpu)));
    });
  }
  // Online per sysfs where it has the processor, else by its presence in cpuinfo.
  bool online() { return sysfs().exists ? sysfs().online : info != nullptr; }
  bool isX86() const {
    auto small = [](const std::optional<int64_t>& v) { return v && *v >= 0 && *v < 4096; };
    return info && small(info->family) && small(info->model) && small(info->stepping);
  }
};

using P = PropertyDef<ProcessorRecord>;

// The Windows architecture code for the kernel's machine name.
std::optional<int64_t> architectureCode(const std::string& m) {
  if (m == "x86_64") return 9;
  if (m.size() == 4 && m[0] == 'i' && m.substr(2) == "86") return 0;
  if (m == "aarch64" || m == "aarch64_be") return 12;
  if (m.starts_with("arm")) return 5;
  if (m.starts_with("ppc")) return 3;
  if (m == "ia64") return 6;
  if (m.starts_with("mips")) return 1;
  if (m == "alpha") return 2;
  return std::nullopt;
}

Value caption(ProcessorRecord& r) {
  if (r.isX86()) {
    return Value::text(r.context.hostInfo().machine + " Family " + std::to_string(*r.info->family) +
                       " Model " + std::to_string(*r.info->model) + " Stepping " +
                       std::to_string(*r.info->stepping));
  }
  return r.info ? nonEmptyTextOrNull(sys::validUtf8(r.info->modelName)) : Value::null();
}

Value dataWidth(ProcessorRecord& r) {
  if (r.info && !r.info->vendorId.empty()) return Value::integer(r.info->longMode ? 64 : 32);
  const HostInfo& h = r.context.hostInfo();
  return h.valid ? Value::integer(is64BitMachine(h.machine) ? 64 : 32) : Value::null();
}

Value currentClock(ProcessorRecord& r) {
  if (!r.online()) return Value::null();
  if (auto khz = r.sysfs().currentKhz) return Value::integer((*khz + 500) / 1000);
  if (r.info && r.info->mhz) return Value::integer(std::llround(*r.info->mhz));
  return Value::null();
}

Value loadPercentage(ProcessorRecord& r) {
  if (!r.online()) return Value::null();
  const auto& loads = r.context.loads.get([&] { return r.context.sampler.sample(); });
  auto it = loads.find(r.cpu);
  return it == loads.end() ? Value::null() : Value::integer(it->second);
}

template <class F>
Value fromInfo(ProcessorRecord& r, F f) {
  return r.info ? f(*r.info) : Value::null();
}

Value onlineOr(ProcessorRecord& r, Value whenOnline, Value whenOffline) {
  return r.online() ? std::move(whenOnline) : std::move(whenOffline);
}

constexpr auto
    kProperties =
        std::to_array<P>(
            {
                {"AddressWidth",
                 {"integer", "bits", "64 or 32 from `uname()` machine"},
                 [](ProcessorRecord& r) {
                   const HostInfo& h = r.context.hostInfo();
                   return h.valid ? Value::integer(is64BitMachine(h.machine) ? 64 : 32)
                                  : Value::null();
                 }},
                {"Architecture",
                 {"integer", "",
                  "`uname()` machine: x86_64 → 9, i?86 → 0, aarch64 → 12, arm* → 5, ppc* → 3, ia64 "
                  "→ 6, mips* → 1, alpha → 2; others null"},
                 [](ProcessorRecord& r) {
                   return integerOrNull(architectureCode(r.context.hostInfo().machine));
                 }},
                {"Availability",
                 {"integer", "", "`cpuN/online`: 3 (running) when online, 8 (off line) when not"},
                 [](ProcessorRecord& r) {
                   return onlineOr(r, Value::integer(3), Value::integer(8));
                 }},
                {"Caption",
                 {"string", "",
                  "x86: `<machine> Family <cpu family> Model <model> Stepping <stepping>` from "
                  "`cpuinfo`; elsewhere the `model name`, if any"},
                 caption},
                {"ConfigManagerErrorCode",
                 {"null", "", "none"},
                 [](ProcessorRecord&) { return nullValue(); }},
                {"ConfigManagerUserConfig",
                 {"null", "", "none"},
                 [](ProcessorRecord&) { return nullValue(); }},
                {"CpuStatus",
                 {"integer", "", "1 (enabled) when online; null when offline"},
                 [](ProcessorRecord& r) { return onlineOr(r, Value::integer(1), Value::null()); }},
                {"CreationClassName",
                 {"string", "", "constant `Win32_Processor`"},
                 [](ProcessorRecord&) { return Value::text("Win32_Processor"); }},
                {"CurrentClockSpeed",
                 {"integer", "MHz",
                  "`cpufreq/scaling_cur_freq` / 1000, else `cpu MHz` of `cpuinfo` rounded"},
                 currentClock},
                {"CurrentVoltage",
                 {"null", "", "none"},
                 [](ProcessorRecord&) { return nullValue(); }},
                {"DataWidth",
                 {"integer", "bits",
                  "x86: 64 with the `lm` flag, else 32; elsewhere as AddressWidth"},
                 dataWidth},
                {"Description", {"string", "", "same as Caption"}, caption},
                {"DeviceID",
                 {"string", "", "`CPU` + processor number"},
                 [](ProcessorRecord& r) { return Value::text("CPU" + std::to_string(r.cpu)); }},
                {"ErrorCleared",
                 {"null", "", "none"},
                 [](ProcessorRecord&) { return nullValue(); }},
                {"ErrorDescription",
                 {"null", "", "none"},
                 [](ProcessorRecord&) { return nullValue(); }},
                {"ExtClock", {"null", "", "none"}, [](ProcessorRecord&) { return nullValue(); }},
                {"Family",
                 {"null", "", "none (Linux does not expose the SMBIOS processor family)"},
                 [](ProcessorRecord&) { return nullValue(); }},
                {"InstallDate", {"null", "", "none"}, [](ProcessorRecord&) { return nullValue(); }},
                {"L2CacheSize",
                 {"integer", "kilobytes",
                  "`cpuN/cache/index*/size` of the level-2 data or unified cache"},
                 [](ProcessorRecord& r) { return integerOrNull(r.sysfs().l2Kb); }},
                {"L2CacheSpeed",
                 {"null", "", "none"},
                 [](ProcessorRecord&) { return nullValue(); }},
                {"L3CacheSize",
                 {"integer", "kilobytes", "as L2CacheSize, level 3"},
                 [](ProcessorRecord& r) { return integerOrNull(r.sysfs().l3Kb); }},
                {"LastErrorCode",
                 {"null", "", "none"},
                 [](ProcessorRecord&) { return nullValue(); }},
                {"Level",
                 {"integer", "", "x86: `cpu family` of `cpuinfo`"},
                 [](ProcessorRecord& r) {
                   return r.isX86() ? Value::integer(*r.info->family) : Value::null();
                 }},
                {"LoadPercentage",
                 {"integer", "percent",
                  "busy share of the `cpuN` line of `/proc/stat` between two readings: the "
                  "previous query's reading if it is at most 10 s old, else one taken now. The two "
                  "are at least 100 ms apart (the sampler waits the rest). Only read when asked "
                  "for. Null when offline"},
                 loadPercentage},
                {"Manufacturer",
                 {"string", "", "`vendor_id` of `cpuinfo`"},
                 [](ProcessorRecord& r) {
                   return fromInfo(r, [](const CpuInfoEntry& i) {
                     return nonEmptyTextOrNull(sys::validUtf8(i.vendorId));
                   });
                 }},
                {"MaxClockSpeed",
                 {"integer", "MHz", "`cpufreq/cpuinfo_max_freq` / 1000; null without cpufreq"},
                 [](ProcessorRecord& r) {
                   auto khz = r.sysfs().maxKhz;
                   return khz ? Value::integer((*khz + 500) / 1000) : Value::null();
                 }},
                {"Name",
                 {"string", "", "`model name` of `cpuinfo`"},
                 [](ProcessorRecord& r) {
                   return fromInfo(r, [](const CpuInfoEntry& i) {
                     return nonEmptyTextOrNull(sys::validUtf8(i.modelName));
                   });
                 }},
                {"OtherFamilyDescription",
                 {"null", "", "none"},
                 [](ProcessorRecord&) { return nullValue(); }},
                {"PNPDeviceID", {"null", "", "none"}, [](ProcessorRecord&) { return nullValue(); }},
                {"PowerManagementCapabilities",
                 {"null", "", "none"},
                 [](ProcessorRecord&) { return nullValue(); }},
                {"PowerManagementSupported",
                 {"boolean", "", "whether `cpuN/cpufreq` exists"},
                 [](ProcessorRecord& r) {
                   return r.sysfs().exists ? Value::boolean(r.sysfs().hasCpufreq) : Value::null();
                 }},
                {"ProcessorID", {"null", "", "none"}, [](ProcessorRecord&) { return nullValue(); }},
                {"ProcessorType",
                 {"integer", "", "constant 3 (central processor)"},
                 [](ProcessorRecord&) { return Value::integer(3); }},  // central processor
                {"Revision",
                 {"integer", "", "x86: model × 256 + stepping"},
                 [](ProcessorRecord& r) {
                   return r.isX86() ? Value::integer(*r.info->model * 256 + *r.info->stepping)
                                    : Value::null();
                 }},
                {"Role",
                 {"string", "", "constant `CPU`"},
                 [](ProcessorRecord&) { return Value::text("CPU"); }},
                {"SocketDesignation",
                 {"null", "", "none (the board's socket labels are not in sysfs)"},
                 [](ProcessorRecord&) { return nullValue(); }},
                {"Status",
                 {"string", "", "`OK` when online; null when offline"},
                 [](ProcessorRecord& r) { return onlineOr(r, Value::text("OK"), Value::null()); }},
                {"StatusInfo",
                 {"integer", "", "3 (enabled) when online, 4 (disabled) when not"},
                 [](ProcessorRecord& r) {
                   return onlineOr(r, Value::integer(3), Value::integer(4));
                 }},
                {"Stepping",
                 {"string", "", "x86: `stepping` of `cpuinfo`"},
                 [](ProcessorRecord& r) {
                   return r.isX86() ? Value::text(std::to_string(*r.info->stepping))
                                    : Value::null();
                 }},
                {"SystemCreationClassName",
                 {"string", "", "constant `Win32_ComputerSystem`"},
                 [](ProcessorRecord&) { return Value::text("Win32_ComputerSystem"); }},
                {"SystemName",
                 {"string", "", "`uname()` nodename"},
                 [](ProcessorRecord&
                        r) { return nonEmptyTextOrNull(r.context.hostInfo().hostname); }},
                {"UniqueID", {"null", "", "none"}, [](ProcessorRecord&) { return nullValue(); }},
                {"UpgradeMethod",
                 {"null", "", "none"},
                 [](ProcessorRecord&) { return nullValue(); }},
                {"Version",
                 {"string", "", "x86: `Model <model>, Stepping <stepping>`"},
                 [](ProcessorRecord& r) {
                   return r.isX86() ? Value::text("Model " + std::to_string(*r.info->model) +
                                                  ", Stepping " + std::to_string(*r.info->stepping))
                                    : Value::null();
                 }},
                {"VoltageCaps", {"null", "", "none"}, [](ProcessorRecord&) { return nullValue(); }},
            });
}  // namespace

ProcessorProvider::ProcessorProvider(SystemRoot root)
    : root_(std::move(root)),
      sampler_(CpuLoadSampler::shared(joinPath(root_.proc, "stat"), root_.sleep)) {
  sampler_->prime();
}

std::vector<PropertyDoc> ProcessorProvider::documentation() const {
  return documentTable<ProcessorRecord>(kProperties);
}

const SchemaPtr& ProcessorProvider::schema() const {
  static const SchemaPtr s =
      makeSchema<ProcessorRecord>("Win32_Processor", "DeviceID", kProperties);
  return s;
}

void ProcessorProvider::enumerate(const PropertySet& wanted,
                                  const std::function<bool(ManagementObject&&)>& sink) {
  auto text = readFile(joinPath(root_.proc, "cpuinfo"), 16 << 20);
  std::vector<CpuInfoEntry> infos = text ? parseCpuInfo(*text) : std::vector<CpuInfoEntry>{};
  std::map<int64_t, const CpuInfoEntry*> byCpu;
  for (const auto& i : infos) byCpu.emplace(i.processor, &i);
  // Processors taken offline are missing from cpuinfo but still present in sysfs.
  std::vector<int64_t> cpus = presentCpus(root_.sys).value_or(std::vector<int64_t>{});
  if (cpus.empty())
    for (const auto& [cpu, info] : byCpu) cpus.push_back(cpu);
  ProcessorContext context{root_, *sampler_, {}, {}};
  for (int64_t cpu : cpus) {
    auto it = byCpu.find(cpu);
    ProcessorRecord record{context, cpu, it == byCpu.end() ? nullptr : it->second, {}};
    if (!sink(buildObject<ProcessorRecord>(schema(), kProperties, wanted, record))) return;
  }
}

}  // namespace kestrava::service::linuxsys
