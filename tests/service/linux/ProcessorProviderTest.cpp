#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "service/linux/CpuInfo.h"
#include "service/linux/CpuLoadSampler.h"
#include "service/linux/CpuSysfs.h"
#include "service/linux/FileAccess.h"
#include "service/linux/ProcessorProvider.h"
#include "service/linux/ProviderTestSupport.h"

namespace kestrava::service::linuxsys {
namespace {

using testing::enumerateAll;
using testing::fixtureDir;
using testing::fixtureRoot;

struct Expect {
  const char* property;
  Value value;
};

void expectAll(const ManagementObject& o, std::initializer_list<Expect> expects) {
  for (const auto& e : expects) EXPECT_EQ(o.get(e.property), e.value) << e.property;
}

TEST(CpuInfoParse, BlocksOfX86AndArm) {
  auto x86 = parseCpuInfo(*readFile(fixtureDir("cpu-two-sockets") + "/proc/cpuinfo"));
  ASSERT_EQ(x86.size(), 7u);
  EXPECT_EQ(x86[4].processor, 4);
  EXPECT_EQ(x86[4].vendorId, "GenuineIntel");
  EXPECT_EQ(x86[4].modelName, "Intel(R) Xeon(R) Gold 6138 CPU @ 2.00GHz");
  EXPECT_EQ(x86[4].family, 6);
  EXPECT_EQ(x86[4].model, 85);
  EXPECT_EQ(x86[4].stepping, 7);
  EXPECT_EQ(x86[4].physicalId, 1);
  EXPECT_EQ(x86[4].cacheSizeKb, 28160);
  EXPECT_DOUBLE_EQ(*x86[4].mhz, 2004.004);
  EXPECT_TRUE(x86[4].longMode);

  auto arm = parseCpuInfo(*readFile(fixtureDir("cpu-arm64") + "/proc/cpuinfo"));
  ASSERT_EQ(arm.size(), 4u);
  EXPECT_EQ(arm[3].processor, 3);
  EXPECT_TRUE(arm[3].modelName.empty());
  EXPECT_FALSE(arm[3].family);
  EXPECT_FALSE(arm[3].longMode);

  EXPECT_TRUE(parseCpuInfo("vendor_id : x\n\nmodel name : y\n").empty()) << "no processor line";
  EXPECT_EQ(parseCpuInfo("processor : 0\nprocessor : 1\n").size(), 2u);
}

TEST(CpuSysfsRead, CacheSizesAndNumbers) {
  struct Case {
    const char* text;
    std::optional<int64_t> kb;
  } cases[] = {{"1024K\n", 1024},   {"32M", 32768},        {"48K", 48},          {"", std::nullopt},
               {"K", std::nullopt}, {"-5K", std::nullopt}, {"12G", std::nullopt}};
  for (const auto& c : cases) EXPECT_EQ(parseCacheSize(c.text), c.kb) << c.text;

  auto cpu7 = CpuSysfs::read(fixtureDir("cpu-two-sockets") + "/sys/devices/system/cpu/cpu7");
  EXPECT_TRUE(cpu7.exists);
  EXPECT_FALSE(cpu7.online);
  EXPECT_FALSE(cpu7.hasCpufreq);
  EXPECT_EQ(cpu7.l2Kb, 1024);
  EXPECT_EQ(cpu7.l3Kb, 28160);
  auto cpu0 = CpuSysfs::read(fixtureDir("cpu-two-sockets") + "/sys/devices/system/cpu/cpu0");
  EXPECT_TRUE(cpu0.online) << "cpu0 has no online file: it cannot be taken offline";
  EXPECT_EQ(cpu0.currentKhz, 1999500);
  EXPECT_EQ(cpu0.maxKhz, 3700000);
  EXPECT_FALSE(
      CpuSysfs::read(fixtureDir("cpu-two-sockets") + "/sys/devices/system/cpu/cpu99").exists);
}

TEST(ProcessorProviderFixture, TwoSocketsOneProcessorOffline) {
  ProcessorProvider provider(fixtureRoot(fixtureDir("cpu-two-sockets")));
  auto cpus = enumerateAll(provider);
  ASSERT_EQ(cpus.size(), 8u);
  for (size_t i = 0; i < cpus.size(); ++i)
    EXPECT_EQ(cpus[i].get("DeviceID"), Value::text("CPU" + std::to_string(i)));
  expectAll(cpus[0], {
                         {"Name", Value::text("Intel(R) Xeon(R) Gold 6138 CPU @ 2.00GHz")},
                         {"Manufacturer", Value::text("GenuineIntel")},
                         {"Caption", Value::text("x86_64 Family 6 Model 85 Stepping 4")},
                         {"Description", Value::text("x86_64 Family 6 Model 85 Stepping 4")},
                         {"Level", Value::integer(6)},
                         {"Revision", Value::integer(85 * 256 + 4)},
                         {"Stepping", Value::text("4")},
                         {"Version", Value::text("Model 85, Stepping 4")},
                         {"CurrentClockSpeed", Value::integer(2000)},
                         {"MaxClockSpeed", Value::integer(3700)},
                         {"L2CacheSize", Value::integer(1024)},
                         {"L3CacheSize", Value::integer(28160)},
                         {"AddressWidth", Value::integer(64)},
                         {"DataWidth", Value::integer(64)},
                         {"Architecture", Value::integer(9)},
                         {"Availability", Value::integer(3)},
                         {"CpuStatus", Value::integer(1)},
                         {"StatusInfo", Value::integer(3)},
                         {"Status", Value::text("OK")},
                         {"PowerManagementSupported", Value::boolean(true)},
                         {"ProcessorType", Value::integer(3)},
                         {"Role", Value::text("CPU")},
                         {"CreationClassName", Value::text("Win32_Processor")},
                         {"SystemCreationClassName", Value::text("Win32_ComputerSystem")},
                         {"SystemName", Value::text("fixturehost")},
                         {"LoadPercentage", Value::null()},  // the recorded counters never move
                         {"Family", Value::null()},
                         {"ProcessorID", Value::null()},
                         {"PowerManagementCapabilities", Value::null()},
                         {"VoltageCaps", Value::null()},
                     });
  EXPECT_EQ(cpus[1].get("CurrentClockSpeed"), Value::integer(2100));
  EXPECT_EQ(cpus[4].get("Caption"), Value::text("x86_64 Family 6 Model 85 Stepping 7"));
  EXPECT_EQ(cpus[4].get("Stepping"), Value::text("7"));
  expectAll(cpus[7], {
                         {"Availability", Value::integer(8)},
                         {"StatusInfo", Value::integer(4)},
                         {"CpuStatus", Value::null()},
                         {"Status", Value::null()},
                         {"Name", Value::null()},
                         {"CurrentClockSpeed", Value::null()},
                         {"LoadPercentage", Value::null()},
                         {"L2CacheSize", Value::integer(1024)},
                         {"PowerManagementSupported", Value::boolean(false)},
                     });
}

TEST(ProcessorProviderFixture, SixtyFourProcessorsWithoutFrequencyScaling) {
  ProcessorProvider provider(fixtureRoot(fixtureDir("cpu-many")));
  auto cpus = enumerateAll(provider);
  ASSERT_EQ(cpus.size(), 64u);
  EXPECT_EQ(cpus[63].get("DeviceID"), Value::text("CPU63"));
  expectAll(cpus[63], {
                          {"Name", Value::text("AMD EPYC")},
                          {"Manufacturer", Value::text("AuthenticAMD")},
                          {"CurrentClockSpeed", Value::integer(2695)},
                          {"MaxClockSpeed", Value::null()},
                          {"PowerManagementSupported", Value::boolean(false)},
                          {"L2CacheSize", Value::integer(1024)},
                          {"Level", Value::integer(26)},
                          {"Availability", Value::integer(3)},
                      });
}

TEST(ProcessorProviderFixture, Arm64LeavesX86FactsNull) {
  auto root = fixtureRoot(fixtureDir("cpu-arm64"));
  auto x86 = root.uname;
  root.uname = [x86](struct utsname* u) {
    x86(u);
    std::strcpy(u->machine, "aarch64");
    return 0;
  };
  ProcessorProvider provider(root);
  auto cpus = enumerateAll(provider);
  ASSERT_EQ(cpus.size(), 4u);
  expectAll(cpus[2], {
                         {"DeviceID", Value::text("CPU2")},
                         {"Architecture", Value::integer(12)},
                         {"AddressWidth", Value::integer(64)},
                         {"DataWidth", Value::integer(64)},
                         {"Name", Value::null()},
                         {"Caption", Value::null()},
                         {"Manufacturer", Value::null()},
                         {"Level", Value::null()},
                         {"Revision", Value::null()},
                         {"CurrentClockSpeed", Value::integer(2000)},
                         {"MaxClockSpeed", Value::integer(3000)},
                         {"L2CacheSize", Value::null()},
                     });
}

TEST(ProcessorProviderFixture, WithoutSysfsTheProcessorsOfCpuinfoCount) {
  testing::TempDir tmp;
  testing::copyFixture("cpu-two-sockets", tmp.path());
  std::filesystem::remove_all(tmp.path() + "/sys");
  ProcessorProvider provider(fixtureRoot(tmp.path()));
  auto cpus = enumerateAll(provider);
  ASSERT_EQ(cpus.size(), 7u);
  EXPECT_EQ(cpus[6].get("Availability"), Value::integer(3));
  EXPECT_EQ(cpus[6].get("CurrentClockSpeed"), Value::integer(2006));  // cpuinfo's "cpu MHz"
  EXPECT_TRUE(cpus[6].get("PowerManagementSupported").isNull());
}

// Writes /proc/stat with every processor busy for `busy` of `total` ticks.
void writeStat(const std::string& path, int cpus, uint64_t busy, uint64_t total) {
  std::ofstream out(path, std::ios::trunc);
  for (int c = 0; c < cpus; ++c)
    out << "cpu" << c << ' ' << busy << " 0 0 " << total - busy << " 0 0 0 0 0 0\n";
  out << "btime 1700000000\n";
}

TEST(CpuLoadSamplerTest, LoadOverTheIntervalAndReuseOfARecentSample) {
  testing::TempDir tmp;
  const std::string stat = tmp.path() + "/stat";
  writeStat(stat, 2, 100, 1000);
  // The counters move while the sampler waits.
  std::pair<uint64_t, uint64_t> next{175, 1100};  // 75 of the next 100 ticks busy
  int sleeps = 0;
  CpuLoadSampler sampler(stat, [&](std::chrono::milliseconds) {
    ++sleeps;
    writeStat(stat, 2, next.first, next.second);
  });
  EXPECT_EQ(sampler.sample(), (std::map<int64_t, int64_t>{{0, 75}, {1, 75}}));
  EXPECT_EQ(sleeps, 1);

  next = {185, 1200};  // the next query measures from the previous reading
  writeStat(stat, 2, next.first, next.second);
  EXPECT_EQ(sampler.sample(), (std::map<int64_t, int64_t>{{0, 10}, {1, 10}}));

  writeStat(stat, 1, 0, 50);  // counters went back: no load rather than a wrong one
  next = {0, 50};
  EXPECT_EQ(sampler.sample(), (std::map<int64_t, int64_t>{}));

  // A primed sampler measures from its first reading.
  CpuLoadSampler primed(stat, [](std::chrono::milliseconds) {});
  writeStat(stat, 2, 100, 1000);
  primed.prime();
  writeStat(stat, 2, 150, 1100);
  EXPECT_EQ(primed.sample(), (std::map<int64_t, int64_t>{{0, 50}, {1, 50}}));
}

TEST(ProcessorProviderFixture, LoadIsSampledOnlyWhenWanted) {
  testing::TempDir tmp;
  testing::copyFixture("cpu-two-sockets", tmp.path());
  auto root = fixtureRoot(tmp.path());
  int sleeps = 0;
  root.sleep = [&](std::chrono::milliseconds) { ++sleeps; };
  ProcessorProvider provider(root);
  enumerateAll(provider, testing::only(*provider.schema(), {"DeviceID", "Name"}));
  EXPECT_EQ(sleeps, 0);
  enumerateAll(provider);
  EXPECT_EQ(sleeps, 1);
}

TEST(ProcessorProviderLive, OneInstancePerLogicalProcessor) {
  ProcessorProvider provider(SystemRoot::live());
  auto cpus = enumerateAll(provider);
  ASSERT_GE(cpus.size(), 1u);
  long online = 0;
  for (size_t i = 0; i < cpus.size(); ++i) {
    const auto& c = cpus[i];
    EXPECT_TRUE(c.get("DeviceID").asText().starts_with("CPU"));
    if (c.get("Availability") != Value::integer(3)) continue;
    ++online;
    int64_t load = c.get("LoadPercentage").asInteger();
    EXPECT_GE(load, 0);
    EXPECT_LE(load, 100);
  }
  EXPECT_EQ(online, ::sysconf(_SC_NPROCESSORS_ONLN));
}

}  // namespace
}  // namespace kestrava::service::linuxsys
