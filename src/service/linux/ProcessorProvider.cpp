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

using P = PropertySpec<ProcessorRecord>;

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

constexpr auto kProperties = std::to_array<P>({
    {"AddressWidth",
     [](ProcessorRecord& r) {
       const HostInfo& h = r.context.hostInfo();
       return h.valid ? Value::integer(is64BitMachine(h.machine) ? 64 : 32) : Value::null();
     }},
    {"Architecture",
     [](ProcessorRecord& r) { return integerOrNull(architectureCode(r.context.hostInfo().machine)); }},
    {"Availability",
     [](ProcessorRecord& r) { return onlineOr(r, Value::integer(3), Value::integer(8)); }},
    {"Caption", caption},
    {"ConfigManagerErrorCode", [](ProcessorRecord&) { return nullValue(); }},
    {"ConfigManagerUserConfig", [](ProcessorRecord&) { return nullValue(); }},
    {"CpuStatus", [](ProcessorRecord& r) { return onlineOr(r, Value::integer(1), Value::null()); }},
    {"CreationClassName", [](ProcessorRecord&) { return Value::text("Win32_Processor"); }},
    {"CurrentClockSpeed", currentClock},
    {"CurrentVoltage", [](ProcessorRecord&) { return nullValue(); }},
    {"DataWidth", dataWidth},
    {"Description", caption},
    {"DeviceID", [](ProcessorRecord& r) { return Value::text("CPU" + std::to_string(r.cpu)); }},
    {"ErrorCleared", [](ProcessorRecord&) { return nullValue(); }},
    {"ErrorDescription", [](ProcessorRecord&) { return nullValue(); }},
    {"ExtClock", [](ProcessorRecord&) { return nullValue(); }},
    {"Family", [](ProcessorRecord&) { return nullValue(); }},
    {"InstallDate", [](ProcessorRecord&) { return nullValue(); }},
    {"L2CacheSize", [](ProcessorRecord& r) { return integerOrNull(r.sysfs().l2Kb); }},
    {"L2CacheSpeed", [](ProcessorRecord&) { return nullValue(); }},
    {"L3CacheSize", [](ProcessorRecord& r) { return integerOrNull(r.sysfs().l3Kb); }},
    {"LastErrorCode", [](ProcessorRecord&) { return nullValue(); }},
    {"Level",
     [](ProcessorRecord& r) {
       return r.isX86() ? Value::integer(*r.info->family) : Value::null();
     }},
    {"LoadPercentage", loadPercentage},
    {"Manufacturer",
     [](ProcessorRecord& r) {
       return fromInfo(r, [](const CpuInfoEntry& i) { return nonEmptyTextOrNull(sys::validUtf8(i.vendorId)); });
     }},
    {"MaxClockSpeed",
     [](ProcessorRecord& r) {
       auto khz = r.sysfs().maxKhz;
       return khz ? Value::integer((*khz + 500) / 1000) : Value::null();
     }},
    {"Name",
     [](ProcessorRecord& r) {
       return fromInfo(r, [](const CpuInfoEntry& i) { return nonEmptyTextOrNull(sys::validUtf8(i.modelName)); });
     }},
    {"OtherFamilyDescription", [](ProcessorRecord&) { return nullValue(); }},
    {"PNPDeviceID", [](ProcessorRecord&) { return nullValue(); }},
    {"PowerManagementCapabilities", [](ProcessorRecord&) { return nullValue(); }},
    {"PowerManagementSupported",
     [](ProcessorRecord& r) {
       return r.sysfs().exists ? Value::boolean(r.sysfs().hasCpufreq) : Value::null();
     }},
    {"ProcessorID", [](ProcessorRecord&) { return nullValue(); }},
    {"ProcessorType", [](ProcessorRecord&) { return Value::integer(3); }},  // central processor
    {"Revision",
     [](ProcessorRecord& r) {
       return r.isX86() ? Value::integer(*r.info->model * 256 + *r.info->stepping) : Value::null();
     }},
    {"Role", [](ProcessorRecord&) { return Value::text("CPU"); }},
    {"SocketDesignation", [](ProcessorRecord&) { return nullValue(); }},
    {"Status", [](ProcessorRecord& r) { return onlineOr(r, Value::text("OK"), Value::null()); }},
    {"StatusInfo",
     [](ProcessorRecord& r) { return onlineOr(r, Value::integer(3), Value::integer(4)); }},
    {"Stepping",
     [](ProcessorRecord& r) {
       return r.isX86() ? Value::text(std::to_string(*r.info->stepping)) : Value::null();
     }},
    {"SystemCreationClassName", [](ProcessorRecord&) { return Value::text("Win32_ComputerSystem"); }},
    {"SystemName",
     [](ProcessorRecord& r) { return nonEmptyTextOrNull(r.context.hostInfo().hostname); }},
    {"UniqueID", [](ProcessorRecord&) { return nullValue(); }},
    {"UpgradeMethod", [](ProcessorRecord&) { return nullValue(); }},
    {"Version",
     [](ProcessorRecord& r) {
       return r.isX86() ? Value::text("Model " + std::to_string(*r.info->model) + ", Stepping " +
                                      std::to_string(*r.info->stepping))
                        : Value::null();
     }},
    {"VoltageCaps", [](ProcessorRecord&) { return nullValue(); }},
});
}  // namespace

ProcessorProvider::ProcessorProvider(SystemRoot root)
    : root_(std::move(root)), sampler_(CpuLoadSampler::shared(joinPath(root_.proc, "stat"), root_.sleep)) {
  sampler_->prime();
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
