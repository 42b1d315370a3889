// Feeds arbitrary bytes to every parser of /proc, /sys and /etc text the Linux providers use, as a
// recorded file from another machine (or a hostile one) might hold them. A parser may refuse, but
// must never crash, and what it accepts must keep the invariants checked here.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "service/linux/CimDateTime.h"
#include "service/linux/CpuInfo.h"
#include "service/linux/CpuList.h"
#include "service/linux/EnvFile.h"
#include "service/linux/KernelStat.h"
#include "service/linux/LogRecords.h"
#include "service/linux/LogTree.h"
#include "service/linux/LoginSessions.h"
#include "service/linux/Meminfo.h"
#include "service/linux/MountInfo.h"
#include "service/linux/ProcIo.h"
#include "service/linux/ProcStatus.h"
#include "service/linux/Smbios.h"
#include "sys/ProcStat.h"
#include "sys/Utf8.h"

namespace {

using namespace kestrava::service::linuxsys;
namespace sys = kestrava::sys;

void check(bool ok) {
  if (!ok) std::abort();
}

void fuzzProcStat(std::string_view in) {
  auto s = sys::parseProcStat(in);
  if (!s) return;
  check(in.find(s->comm) != std::string_view::npos);
  std::string name = sys::validUtf8(s->comm);
  check(sys::validUtf8(name) == name);
}

void fuzzMountInfo(std::string_view in) {
  for (const auto& m : parseMountInfo(in)) {
    check(!m.mountPoint.empty() && !m.fsType.empty());
    check(m.mountPoint.size() <= in.size());
  }
  std::string decoded = decodeOctalEscapes(in);
  check(decoded.size() <= in.size());
}

void fuzzCpu(std::string_view in) {
  auto infos = parseCpuInfo(in);
  check(infos.size() <= kMaxCpus);
  for (const auto& i : infos) check(i.processor >= 0);
  if (auto list = parseCpuList(in)) {
    check(std::is_sorted(list->begin(), list->end()));
    check(std::adjacent_find(list->begin(), list->end()) == list->end());
    check(list->size() <= kMaxCpus);
  }
  KernelStat k = parseKernelStat(in);
  for (size_t i = 1; i < k.cpus.size(); ++i) {
    auto load = loadPercentage(k.cpus[i - 1], k.cpus[i]);
    check(!load || (*load >= 0 && *load <= 100));
  }
}

void fuzzKeyValueFiles(std::string_view in) {
  parseProcStatus(in);
  parseProcIo(in);
  Meminfo m = parseMeminfo(in);
  static_cast<void>(m.availableKb());
  for (const auto& [key, value] : parseEnvFile(in)) check(!key.empty());
}

void fuzzBinary(std::string_view in) {
  for (const auto& s : parseUtmp(in)) check(sys::validUtf8(s.user) == s.user);
  journalEntries(in);
  classifyLog("x.log", in);
  std::optional<std::string> structure{std::string(in)};
  for (size_t off = 0; off < 32; ++off) smbiosByte(structure, off);
}

void fuzzUtf8AndTimes(std::string_view in) {
  std::string out = sys::validUtf8(in);
  check(sys::validUtf8(out) == out);
  if (in.size() >= 14) {
    int64_t secs = 0;
    int32_t micros = 0;
    int16_t offset = 0;
    std::copy_n(in.data(), 8, reinterpret_cast<char*>(&secs));
    std::copy_n(in.data() + 8, 4, reinterpret_cast<char*>(&micros));
    std::copy_n(in.data() + 12, 2, reinterpret_cast<char*>(&offset));
    secs %= int64_t{253402300800};  // years 0001 to 9999 either side of the epoch
    std::string t = cimDateTime(secs, micros, offset % 1000);
    check(t.size() >= 25);
  }
}

void fuzzLogKeys(std::string_view in) {
  std::set<std::string> unique;
  while (!in.empty() && unique.size() < 64) {
    size_t nl = in.find('\n');
    if (!in.substr(0, nl).empty()) unique.emplace(in.substr(0, nl));
    in = nl == std::string_view::npos ? std::string_view{} : in.substr(nl + 1);
  }
  std::vector<std::string> paths(unique.begin(), unique.end());
  auto keys = assignLogKeys(paths);
  check(std::set<std::string>(keys.begin(), keys.end()).size() == keys.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  fuzzProcStat(in);
  fuzzMountInfo(in);
  fuzzCpu(in);
  fuzzKeyValueFiles(in);
  fuzzBinary(in);
  fuzzUtf8AndTimes(in);
  fuzzLogKeys(in);
  return 0;
}
