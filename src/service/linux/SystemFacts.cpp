#include "service/linux/SystemFacts.h"

#include "service/linux/CpuInfo.h"
#include "service/linux/CpuList.h"
#include "service/linux/EnvFile.h"
#include "service/linux/FileAccess.h"
#include "service/linux/Smbios.h"
#include "sys/Utf8.h"

namespace kestrava::service::linuxsys {

const HostInfo& SystemFacts::host() {
  return host_.get([&] { return HostInfo::read(root_); });
}

const EnvMap& SystemFacts::osRelease() {
  return osRelease_.get([&] { return readOsRelease(root_); });
}

const Meminfo& SystemFacts::meminfo() {
  return meminfo_.get([&] {
    auto text = readFile(joinPath(root_.proc, "meminfo"), 64 * 1024);
    return text ? parseMeminfo(*text) : Meminfo{};
  });
}

const KernelStat& SystemFacts::kernelStat() {
  return kernelStat_.get([&] {
    auto text = readFile(joinPath(root_.proc, "stat"), 4 << 20);
    return text ? parseKernelStat(*text) : KernelStat{};
  });
}

const std::optional<std::vector<LoginSession>>& SystemFacts::sessions() {
  return sessions_.get([&]() -> std::optional<std::vector<LoginSession>> {
    auto bytes = readFile(joinPath(root_.run, "utmp"), 4 << 20);
    if (!bytes) return std::nullopt;
    return parseUtmp(*bytes);
  });
}

const std::vector<MountEntry>& SystemFacts::mounts() {
  return mounts_.get([&] {
    auto text = readFile(joinPath(root_.proc, "self/mountinfo"), 16 << 20);
    return text ? parseMountInfo(*text) : std::vector<MountEntry>{};
  });
}

const std::string& SystemFacts::systemLang() {
  return lang_.get([&] {
    for (const char* file : {"locale.conf", "default/locale"}) {
      auto text = readFile(joinPath(root_.etc, file), 64 * 1024);
      if (!text) continue;
      auto values = parseEnvFile(*text);
      if (auto it = values.find("LANG"); it != values.end()) return sys::validUtf8(it->second);
    }
    return std::string();
  });
}

const EnvMap& SystemFacts::machineInfo() {
  return machineInfo_.get([&] {
    auto text = readFile(joinPath(root_.etc, "machine-info"), 64 * 1024);
    EnvMap values = text ? parseEnvFile(*text) : EnvMap{};
    for (auto& [k, v] : values) v = sys::validUtf8(v);
    return values;
  });
}

const std::optional<std::string>& SystemFacts::kernelCommandLine() {
  return cmdline_.get([&]() -> std::optional<std::string> {
    auto text = readFile(joinPath(root_.proc, "cmdline"), 64 * 1024);
    if (!text) return std::nullopt;
    std::string_view v = *text;
    if (size_t end = v.find(" -- "); end != std::string_view::npos) v = v.substr(0, end);
    return std::string(trimSpace(v));
  });
}

std::string SystemFacts::dmi(const char* name) {
  auto text = readFile(joinPath(root_.sys, std::string("class/dmi/id/") + name), 4096);
  return text ? sys::validUtf8(trimSpace(*text)) : std::string();
}

std::optional<int64_t> SystemFacts::onlineProcessorCount() {
  if (auto text = readFile(joinPath(root_.sys, "devices/system/cpu/online"), 64 * 1024))
    if (auto cpus = parseCpuList(*text); cpus && !cpus->empty())
      return static_cast<int64_t>(cpus->size());
  auto text = readFile(joinPath(root_.proc, "cpuinfo"), 16 << 20);
  if (!text) return std::nullopt;
  auto infos = parseCpuInfo(*text);
  return infos.empty() ? std::nullopt : std::optional<int64_t>(static_cast<int64_t>(infos.size()));
}

std::optional<int64_t> SystemFacts::processCount() {
  DirPtr dir = openDir(root_.proc);
  if (!dir) return std::nullopt;
  int64_t n = 0;
  while (dirent* e = ::readdir(dir.get()))
    if (isAllDigits(e->d_name)) ++n;
  return n;
}

std::optional<int64_t> SystemFacts::readProcNumber(const char* below) {
  auto text = readFile(joinPath(root_.proc, below), 64);
  return text ? parseSigned(*text) : std::nullopt;
}

const std::optional<std::string>& SystemFacts::smbios(int type) {
  auto it = smbios_.find(type);
  if (it == smbios_.end()) it = smbios_.emplace(type, readSmbiosStructure(root_.sys, type)).first;
  return it->second;
}

std::optional<std::string> mountSource(const std::vector<MountEntry>& mounts,
                                       std::string_view mountPoint) {
  std::optional<std::string> source;
  for (const auto& m : mounts)
    if (m.mountPoint == mountPoint) source = sys::validUtf8(m.source);
  return source;
}

std::optional<std::string> consoleUser(const std::vector<LoginSession>& sessions) {
  for (const auto& s : sessions)
    if (s.onConsole()) return s.user;
  return std::nullopt;
}

std::string localeName(std::string_view lang) {
  return std::string(lang.substr(0, lang.find_first_of(".@")));
}

std::string localeCodeSet(std::string_view lang) {
  size_t dot = lang.find('.');
  if (dot == std::string_view::npos) return {};
  std::string_view rest = lang.substr(dot + 1);
  return std::string(rest.substr(0, rest.find('@')));
}

bool hasKernelParameter(std::string_view cmdline, std::string_view word) {
  while (!cmdline.empty()) {
    size_t sp = cmdline.find(' ');
    if (cmdline.substr(0, sp) == word) return true;
    if (sp == std::string_view::npos) break;
    cmdline.remove_prefix(sp + 1);
  }
  return false;
}

}  // namespace kestrava::service::linuxsys
