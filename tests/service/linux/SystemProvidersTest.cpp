#include <gtest/gtest.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <ctime>

#include "service/linux/CimDateTime.h"
#include "service/linux/ComputerSystemProvider.h"
#include "service/linux/OperatingSystemProvider.h"
#include "service/linux/ProviderTestSupport.h"
#include "service/linux/Smbios.h"
#include "service/linux/SystemFacts.h"

namespace kestrava::service::linuxsys {
namespace {

using testing::enumerateAll;
using testing::fixtureDir;
using testing::fixtureRoot;

struct Expect {
  const char* property;
  Value value;
};

ManagementObject onlyInstance(ClassProvider& p) {
  auto all = enumerateAll(p);
  EXPECT_EQ(all.size(), 1u);
  return all.empty() ? ManagementObject() : std::move(all.front());
}

TEST(SystemFactsHelpers, DomainsBuildsLocalesAndParameters) {
  struct Domain {
    const char* host;
    const char* nis;
    std::optional<std::string> want;
  } domains[] = {{"web1.corp.example.com", "(none)", "corp.example.com"},
                 {"web1", "example.lan", "example.lan"},
                 {"web1", "(none)", std::nullopt},
                 {"web1", "", std::nullopt},
                 {"trailingdot.", "(none)", std::nullopt}};
  for (const auto& d : domains) EXPECT_EQ(hostDomain(d.host, d.nis), d.want) << d.host;

  EXPECT_EQ(kernelBuildNumber("#1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1"), "1");
  EXPECT_EQ(kernelBuildNumber("#42"), "42");
  EXPECT_EQ(kernelBuildNumber("SMP #1"), std::nullopt);
  EXPECT_EQ(kernelBuildNumber("#x1 SMP"), std::nullopt);

  struct Lang {
    const char* lang;
    const char* name;
    const char* codeSet;
  } langs[] = {{"en_US.UTF-8", "en_US", "UTF-8"},
               {"de_DE.ISO-8859-15@euro", "de_DE", "ISO-8859-15"},
               {"sr_RS@latin", "sr_RS", ""},
               {"C", "C", ""},
               {"", "", ""}};
  for (const auto& l : langs) {
    EXPECT_EQ(localeName(l.lang), l.name) << l.lang;
    EXPECT_EQ(localeCodeSet(l.lang), l.codeSet) << l.lang;
  }
  EXPECT_TRUE(hasKernelParameter("ro debug quiet", "debug"));
  EXPECT_FALSE(hasKernelParameter("ro debugfs=on quiet", "debug"));
  EXPECT_FALSE(hasKernelParameter("", "debug"));

  std::optional<std::string> s = std::string("\x03\x0C\0\0\0\0\0\0\0\x05\x06\x07\0\0", 14);
  EXPECT_EQ(smbiosByte(s, 9), 5);
  EXPECT_EQ(smbiosByte(s, 11), 7);
  EXPECT_EQ(smbiosByte(s, 12), std::nullopt) << "past the declared length";
  EXPECT_EQ(smbiosByte(std::nullopt, 1), std::nullopt);
}

TEST(ComputerSystemProviderFixture, FromUnameDmiSmbiosMeminfoAndUtmp) {
  ComputerSystemProvider provider(fixtureRoot(fixtureDir("system-basic")));
  ManagementObject cs = onlyInstance(provider);
  const Expect expects[] = {
      {"Name", Value::text("fixturehost")},
      {"Caption", Value::text("fixturehost")},
      {"CreationClassName", Value::text("Win32_ComputerSystem")},
      {"Domain", Value::text("example.lan")},
      {"Manufacturer", Value::text("Dell Inc.")},
      {"Model", Value::text("PowerEdge R640")},
      {"NumberOfProcessors", Value::integer(7)},
      {"SystemType", Value::text("x86_64")},
      {"TotalPhysicalMemory", Value::text("16695054336")},
      {"UserName", Value::text("bob")},
      {"WakeUpType", Value::integer(6)},
      {"ChassisBootupState", Value::integer(3)},
      {"PowerSupplyState", Value::integer(3)},
      {"ThermalState", Value::integer(4)},
      {"PowerOnPasswordStatus", Value::integer(1)},
      {"KeyboardPasswordStatus", Value::integer(2)},
      {"AdminPasswordStatus", Value::integer(0)},
      {"FrontPanelResetStatus", Value::integer(3)},
      {"CurrentTimeZone", Value::integer(localOffsetMinutes(std::time(nullptr)))},
      {"Roles", Value::null()},
      {"PrimaryOwnerName", Value::null()},
      {"NetworkModelServerEnabled", Value::null()},
      {"SystemStartupSettings", Value::null()},
  };
  for (const auto& e : expects) EXPECT_EQ(cs.get(e.property), e.value) << e.property;
  EXPECT_EQ(cs.path(), "Win32_ComputerSystem='fixturehost'");
}

TEST(OperatingSystemProviderFixture, FromOsReleaseMeminfoStatAndLocale) {
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  OperatingSystemProvider provider(fixtureRoot(fixtureDir("system-basic")));
  ManagementObject os = onlyInstance(provider);
  const Expect expects[] = {
      {"Name", Value::text("Fixture Linux 1.0")},
      {"Caption", Value::text("Fixture Linux 1.0")},
      {"Manufacturer", Value::text("Fixture Project")},
      {"Version", Value::text("6.1.0-fixture")},
      {"BuildNumber", Value::text("7")},
      {"BuildType", Value::text("#7 SMP PREEMPT_DYNAMIC Fixture 6.1.0")},
      {"CSName", Value::text("fixturehost")},
      {"CodeSet", Value::text("UTF-8")},
      {"Locale", Value::text("en_US")},
      {"Description", Value::text("Lab Server 3")},
      {"Debug", Value::boolean(true)},
      {"Distributed", Value::boolean(false)},
      {"Primary", Value::boolean(true)},
      {"OSType", Value::integer(36)},
      {"FreePhysicalMemory", Value::text("8000000")},
      {"FreeSpaceInPagingFiles", Value::text("2000000")},
      {"FreeVirtualMemory", Value::text("10000000")},
      {"SizeStoredInPagingFiles", Value::text("2097148")},
      {"TotalSwapSpaceSize", Value::text("2097148")},
      {"TotalVirtualMemorySize", Value::text("18400912")},
      {"TotalVisibleMemorySize", Value::text("16303764")},
      {"LastBootUpTime", Value::text("20231114221320.000000+000")},
      {"MaxNumberOfProcesses", Value::integer(4194304)},
      {"NumberOfProcesses", Value::integer(3)},
      {"NumberOfUsers", Value::integer(2)},
      {"BootDevice", Value::text("/dev/sda1")},
      {"SystemDevice", Value::text("/dev/sda2")},
      {"CurrentTimeZone", Value::integer(0)},
      {"SerialNumber", Value::null()},
      {"WindowsDirectory", Value::null()},
      {"CSDVersion", Value::null()},
  };
  for (const auto& e : expects) EXPECT_EQ(os.get(e.property), e.value) << e.property;
  const std::string now = os.get("LocalDateTime").asText();
  EXPECT_EQ(now.size(), 25u);
  EXPECT_EQ(now.substr(21), "+000");
  ::unsetenv("TZ");
  ::tzset();
}

TEST(SystemProvidersFixture, ASparseSystemGivesNullsNotFailures) {
  // No meminfo, no DMI, no utmp, no locale: one instance each, the unknown values null.
  ComputerSystemProvider cs(fixtureRoot(fixtureDir("proc-basic")));
  ManagementObject c = onlyInstance(cs);
  for (const char* p : {"Manufacturer", "Model", "UserName", "TotalPhysicalMemory", "Domain",
                        "NumberOfProcessors", "WakeUpType", "AdminPasswordStatus"})
    EXPECT_TRUE(c.get(p).isNull()) << p;
  OperatingSystemProvider os(fixtureRoot(fixtureDir("proc-basic")));
  ManagementObject o = onlyInstance(os);
  for (const char* p : {"FreePhysicalMemory", "NumberOfUsers", "CodeSet", "Locale", "BootDevice",
                        "Debug", "Description"})
    EXPECT_TRUE(o.get(p).isNull()) << p;
  EXPECT_EQ(o.get("Name"), Value::text("Fixture Linux 1.0"));
  EXPECT_EQ(o.get("NumberOfProcesses"), Value::integer(4));
}

TEST(SystemProvidersLive, TheRunningSystem) {
  ComputerSystemProvider cs(SystemRoot::live());
  ManagementObject c = onlyInstance(cs);
  struct utsname u {};
  ASSERT_EQ(::uname(&u), 0);
  EXPECT_EQ(c.get("Name"), Value::text(u.nodename));
  EXPECT_EQ(c.get("NumberOfProcessors"), Value::integer(::sysconf(_SC_NPROCESSORS_ONLN)));
  const uint64_t physical = uint64_t(::sysconf(_SC_PHYS_PAGES)) * uint64_t(::sysconf(_SC_PAGESIZE));
  EXPECT_EQ(c.get("TotalPhysicalMemory"), Value::text(std::to_string(physical)));

  OperatingSystemProvider os(SystemRoot::live());
  ManagementObject o = onlyInstance(os);
  EXPECT_EQ(o.get("Version"), Value::text(u.release));
  EXPECT_EQ(o.get("TotalVisibleMemorySize"), Value::text(std::to_string(physical / 1024)));
  EXPECT_GT(o.get("NumberOfProcesses").asInteger(), 1);
  const std::string boot = o.get("LastBootUpTime").asText();
  EXPECT_LT(boot, o.get("LocalDateTime").asText());
}

}  // namespace
}  // namespace kestrava::service::linuxsys
