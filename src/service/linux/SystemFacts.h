#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "service/linux/HostInfo.h"
#include "service/linux/KernelStat.h"
#include "service/linux/LoginSessions.h"
#include "service/linux/Meminfo.h"
#include "service/linux/MountInfo.h"
#include "service/linux/PropertyTable.h"
#include "service/linux/SystemRoot.h"

namespace kestrava::service::linuxsys {

using EnvMap = std::map<std::string, std::string, std::less<>>;

// The facts of the whole system that the computer system and operating system classes read, each
// read on first use and kept for one query.
class SystemFacts {
 public:
  explicit SystemFacts(const SystemRoot& root) : root_(root) {}

  const SystemRoot& root() const { return root_; }
  const HostInfo& host();
  const EnvMap& osRelease();
  const Meminfo& meminfo();
  const KernelStat& kernelStat();
  // Login sessions from utmp; nullopt when there is no readable utmp.
  const std::optional<std::vector<LoginSession>>& sessions();
  const std::vector<MountEntry>& mounts();
  // The system locale's LANG (/etc/locale.conf, else /etc/default/locale); empty when unset.
  const std::string& systemLang();
  const EnvMap& machineInfo();
  // The kernel's command line up to a lone "--"; nullopt when unreadable.
  const std::optional<std::string>& kernelCommandLine();
  // A DMI identification text (/sys/class/dmi/id/<name>), trimmed; empty when absent.
  std::string dmi(const char* name);
  std::optional<int64_t> onlineProcessorCount();
  std::optional<int64_t> processCount();
  std::optional<int64_t> readProcNumber(const char* below);
  const std::optional<std::string>& smbios(int type);

 private:
  const SystemRoot& root_;
  Lazy<HostInfo> host_;
  Lazy<EnvMap> osRelease_;
  Lazy<Meminfo> meminfo_;
  Lazy<KernelStat> kernelStat_;
  Lazy<std::optional<std::vector<LoginSession>>> sessions_;
  Lazy<std::vector<MountEntry>> mounts_;
  Lazy<std::string> lang_;
  Lazy<EnvMap> machineInfo_;
  Lazy<std::optional<std::string>> cmdline_;
  std::map<int, std::optional<std::string>> smbios_;
};

// The source of the mount at mountPoint (the last one mounted there), or nullopt.
std::optional<std::string> mountSource(const std::vector<MountEntry>& mounts,
                                       std::string_view mountPoint);

// The first console user of the sessions, or nullopt.
std::optional<std::string> consoleUser(const std::vector<LoginSession>& sessions);

// LANG's parts: "en_US.UTF-8@euro" -> locale "en_US", code set "UTF-8".
std::string localeName(std::string_view lang);
std::string localeCodeSet(std::string_view lang);

// Whether a kernel command line holds the word.
bool hasKernelParameter(std::string_view cmdline, std::string_view word);

}  // namespace kestrava::service::linuxsys
