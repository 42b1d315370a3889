#include <gtest/gtest.h>
#include <utmp.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "service/linux/CimDateTime.h"
#include "service/linux/CpuList.h"
#include "service/linux/EnvFile.h"
#include "service/linux/KernelStat.h"
#include "service/linux/LoginSessions.h"
#include "service/linux/Meminfo.h"
#include "service/linux/MountInfo.h"
#include "service/linux/ProcIo.h"
#include "service/linux/ProcStatus.h"
#include "service/linux/ProcessRecord.h"

namespace kestrava::service::linuxsys {
namespace {

using namespace std::string_literals;

TEST(ProcStatusParse, MemoryLinesOfUserProcessAndKernelThread) {
  const std::string user =
      "Name:\tsleep\nUmask:\t0022\nState:\tS (sleeping)\nVmPeak:\t    8184 kB\n"
      "VmSize:\t    8184 kB\nVmHWM:\t     920 kB\nVmRSS:\t     920 kB\nRssAnon:\t      88 kB\n"
      "VmSwap:\t       4 kB\nThreads:\t3\n";
  ProcStatus s = parseProcStatus(user);
  EXPECT_EQ(s.vmPeakKb, 8184u);
  EXPECT_EQ(s.vmSizeKb, 8184u);
  EXPECT_EQ(s.vmHwmKb, 920u);
  EXPECT_EQ(s.vmRssKb, 920u);
  EXPECT_EQ(s.rssAnonKb, 88u);
  EXPECT_EQ(s.vmSwapKb, 4u);
  EXPECT_EQ(s.threads, 3);

  ProcStatus k = parseProcStatus("Name:\tkworker/0:1\nState:\tI (idle)\nThreads:\t1\n");
  EXPECT_FALSE(k.vmPeakKb);
  EXPECT_FALSE(k.vmSwapKb);
  EXPECT_EQ(k.threads, 1);

  ProcStatus bad = parseProcStatus("VmPeak:\tlots kB\nVmHWM:\t12 MB\nVmRSS\t5 kB\n");
  EXPECT_FALSE(bad.vmPeakKb);
  EXPECT_FALSE(bad.vmHwmKb);
  EXPECT_FALSE(bad.vmRssKb);
}

TEST(ProcIoParse, CountersAndGarbage) {
  ProcIo io = parseProcIo(
      "rchar: 18446744073709551615\nwchar: 12\nsyscr: 3\nsyscw: 4\nread_bytes: 0\n"
      "write_bytes: 0\ncancelled_write_bytes: 0\n");
  EXPECT_EQ(io.rchar, 18446744073709551615u);
  EXPECT_EQ(io.wchar, 12u);
  EXPECT_EQ(io.syscr, 3u);
  EXPECT_EQ(io.syscw, 4u);
  ProcIo none = parseProcIo("rchar: -1\nnonsense\n");
  EXPECT_FALSE(none.rchar);
  EXPECT_FALSE(none.syscw);
}

TEST(MeminfoParse, AvailableFallsBackToFreeOnOldKernels) {
  Meminfo m = parseMeminfo(
      "MemTotal:       16303764 kB\nMemFree:         1024000 kB\nMemAvailable:    8000000 kB\n"
      "Buffers:          100 kB\nSwapTotal:       2097148 kB\nSwapFree:        2000000 kB\n"
      "HugePages_Total:       0\n");
  EXPECT_EQ(m.memTotalKb, 16303764u);
  EXPECT_EQ(m.availableKb(), 8000000u);
  EXPECT_EQ(m.swapTotalKb, 2097148u);
  EXPECT_EQ(m.swapFreeKb, 2000000u);
  Meminfo old = parseMeminfo("MemTotal: 1000 kB\nMemFree: 300 kB\n");
  EXPECT_EQ(old.availableKb(), 300u);
  EXPECT_FALSE(old.swapTotalKb);
}

TEST(CpuListParse, RangesAndRefusals) {
  struct Case {
    const char* text;
    std::optional<std::vector<int64_t>> want;
  } cases[] = {
      {"0-3,8,10-11\n", std::vector<int64_t>{0, 1, 2, 3, 8, 10, 11}},
      {"0", std::vector<int64_t>{0}},
      {"", std::vector<int64_t>{}},
      {"5,1-2,2", std::vector<int64_t>{1, 2, 5}},
      {"3-1", std::nullopt},
      {"a-b", std::nullopt},
      {"0-99999999", std::nullopt},
      {"1,,2", std::nullopt},
      {"-1", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parseCpuList(c.text), c.want);
  }
}

TEST(MountInfoParse, LinesWithEscapesAndOptionalFields) {
  struct Case {
    const char* what;
    std::string line;
    bool parses;
    std::string mountPoint, fsType, source;
    uint32_t major, minor;
    bool readOnly;
  } cases[] = {
      {"root with optional field", "26 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw", true,
       "/", "ext4", "/dev/vda", 254, 0, false},
      {"no optional field", "40 30 0:37 / /sys/fs/cgroup/unified rw,relatime - cgroup2 cgroup2 rw",
       true, "/sys/fs/cgroup/unified", "cgroup2", "cgroup2", 0, 37, false},
      {"escaped space, tab and newline",
       R"(80 26 8:17 / /media/My\040Disk\011x\012y ro,nosuid shared:5 master:2 - vfat /dev/sdb1 ro)",
       true, "/media/My Disk\tx\ny", "vfat", "/dev/sdb1", 8, 17, true},
      {"escaped backslash in source",
       R"(90 26 0:55 / /mnt/share rw - cifs //srv/a\134b rw,vers=3.0)", true, "/mnt/share", "cifs",
       "//srv/a\\b", 0, 55, false},
      {"no separator", "26 1 254:0 / / rw,relatime shared:1 ext4 /dev/vda rw", false, "", "", "", 0,
       0, false},
      {"bad device", "26 1 254 / / rw - ext4 /dev/vda rw", false, "", "", "", 0, 0, false},
      {"cut short", "26 1 254:0 /", false, "", "", "", 0, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto m = parseMountInfoLine(c.line);
    ASSERT_EQ(m.has_value(), c.parses);
    if (!m) continue;
    EXPECT_EQ(m->mountPoint, c.mountPoint);
    EXPECT_EQ(m->fsType, c.fsType);
    EXPECT_EQ(m->source, c.source);
    EXPECT_EQ(m->major, c.major);
    EXPECT_EQ(m->minor, c.minor);
    EXPECT_EQ(m->readOnly(), c.readOnly);
  }
}

TEST(MountInfoParse, OctalEscapeDecoding) {
  EXPECT_EQ(decodeOctalEscapes(R"(a\040b)"), "a b");
  EXPECT_EQ(decodeOctalEscapes(R"(\134)"), "\\");
  EXPECT_EQ(decodeOctalEscapes(R"(end\04)"), R"(end\04)");  // incomplete escape stays
  EXPECT_EQ(decodeOctalEscapes(R"(\777)"), R"(\777)");      // past one byte stays
  EXPECT_EQ(decodeOctalEscapes(R"(\\040)"), "\\ ");
}

TEST(KernelStatParse, BootTimeCpuLinesAndLoad) {
  KernelStat k = parseKernelStat(
      "cpu  100 0 50 800 50 0 0 0 0 0\ncpu0 60 0 20 400 20 0 0 0 0 0\n"
      "cpu1 40 0 30 400 30 0 0 0 0 0\nintr 12345 0 0\nbtime 1700000000\nprocesses 99\n");
  ASSERT_EQ(k.cpus.size(), 2u);
  EXPECT_EQ(k.cpus[0].cpu, 0);
  EXPECT_EQ(k.cpus[0].total, 500u);
  EXPECT_EQ(k.cpus[0].busy, 80u);
  EXPECT_EQ(k.cpus[1].cpu, 1);
  EXPECT_EQ(k.bootTime, 1700000000);

  struct Case {
    CpuTicks before, after;
    std::optional<int64_t> load;
  } cases[] = {
      {{0, 80, 500}, {0, 130, 600}, 50},
      {{0, 80, 500}, {0, 80, 600}, 0},
      {{0, 80, 500}, {0, 180, 600}, 100},
      {{0, 80, 500}, {0, 80, 500}, std::nullopt},  // no tick passed
      {{0, 80, 500}, {0, 70, 400}, std::nullopt},  // counters went back (CPU re-plugged)
  };
  for (const auto& c : cases) EXPECT_EQ(loadPercentage(c.before, c.after), c.load);
}

TEST(EnvFileParse, QuotingCommentsAndMalformedLines) {
  auto v = parseEnvFile(
      "# comment\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n"
      "NAME='Single Quoted'\nESCAPED=\"say \\\"hi\\\" \\\\ \\$HOME\"\nexport LANG=en_US.UTF-8\n"
      "bad line\n=novalue\nBAD-KEY=1\n  SPACED = yes \n");
  EXPECT_EQ(v["PRETTY_NAME"], "Debian GNU/Linux 12 (bookworm)");
  EXPECT_EQ(v["ID"], "debian");
  EXPECT_EQ(v["NAME"], "Single Quoted");
  EXPECT_EQ(v["ESCAPED"], "say \"hi\" \\ $HOME");
  EXPECT_EQ(v["LANG"], "en_US.UTF-8");
  EXPECT_EQ(v.count("BAD-KEY"), 0u);
  EXPECT_EQ(v.count("SPACED "), 0u);
  EXPECT_EQ(v.count(""), 0u);
}

TEST(CimDateTimeFormat, OffsetsDatesAndBounds) {
  struct Case {
    int64_t secs;
    int32_t micros;
    int offset;
    const char* want;
  } cases[] = {
      {0, 0, 0, "19700101000000.000000+000"},
      {1700000000, 123456, 60, "20231114231320.123456+060"},
      {1700000000, 123456, -300, "20231114171320.123456-300"},
      {1700000000, 0, 330, "20231115034320.000000+330"},
      {1709208000, 0, 0, "20240229120000.000000+000"},
      {-1, 999999, 0, "19691231235959.999999+000"},
      {951782400, 5, -60, "20000228230000.000005-060"},
  };
  for (const auto& c : cases) EXPECT_EQ(cimDateTime(c.secs, c.micros, c.offset), c.want);
}

TEST(CmdlineJoin, ArgumentsBecomeOneLine) {
  EXPECT_EQ(joinCmdline("sleep\0"
                        "600\0"s),
            "sleep 600");
  EXPECT_EQ(joinCmdline("a b\0c\0\0"s), "a b c");
  EXPECT_EQ(joinCmdline(""), "");
  EXPECT_EQ(joinCmdline("sshd: root@pts/0"), "sshd: root@pts/0");  // rewritten argv[0]
}

TEST(UtmpParse, OnlyUserProcessRecordsCount) {
  auto record = [](short type, const char* user, const char* line) {
    struct utmp u;
    std::memset(&u, 0, sizeof u);
    u.ut_type = type;
    std::memcpy(u.ut_user, user, std::min(std::strlen(user), sizeof u.ut_user));
    std::memcpy(u.ut_line, line, std::min(std::strlen(line), sizeof u.ut_line));
    return std::string(reinterpret_cast<const char*>(&u), sizeof u);
  };
  std::string bytes = record(BOOT_TIME, "reboot", "~") + record(USER_PROCESS, "alice", "tty1") +
                      record(DEAD_PROCESS, "", "pts/3") + record(USER_PROCESS, "b\xffob", "pts/0") +
                      record(USER_PROCESS, "", "pts/9") + std::string(10, 'x');
  auto sessions = parseUtmp(bytes);
  ASSERT_EQ(sessions.size(), 2u);
  EXPECT_EQ(sessions[0].user, "alice");
  EXPECT_TRUE(sessions[0].onConsole());
  EXPECT_EQ(sessions[1].user, "b\xEF\xBF\xBDob");
  EXPECT_FALSE(sessions[1].onConsole());
  EXPECT_TRUE((LoginSession{"x", ":0"}.onConsole()));
  EXPECT_FALSE((LoginSession{"x", "ttyS"}.onConsole()));
}

}  // namespace
}  // namespace kestrava::service::linuxsys
