#include "service/linux/FileAccess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "service/linux/CpuInfo.h"

namespace kestrava::service::linuxsys {
namespace {

namespace fs = std::filesystem;

// The /proc/cpuinfo of a machine with `count` processors, about 1.2 KiB each as on x86.
std::string cpuinfoText(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    text += "processor\t: " + std::to_string(i) +
            "\nvendor_id\t: GenuineIntel\ncpu family\t: 6\nmodel\t\t: 85\n"
            "model name\t: Intel(R) Xeon(R) Gold 6130 CPU @ 2.10GHz\nstepping\t: 4\n"
            "cpu MHz\t\t: 2100.000\ncache size\t: 22528 KB\nphysical id\t: " +
            std::to_string(i / 32) + "\nsiblings\t: 32\ncore id\t\t: " + std::to_string(i % 32) +
            "\ncpu cores\t: 16\nflags\t\t: fpu vme de pse tsc msr pae mce cx8 apic sep mtrr pge "
            "mca cmov pat pse36 clflush dts acpi mmx fxsr sse sse2 ss ht tm pbe syscall nx "
            "pdpe1gb rdtscp lm constant_tsc art arch_perfmon pebs bts rep_good nopl xtopology "
            "nonstop_tsc cpuid aperfmperf pni pclmulqdq dtes64 monitor ds_cpl vmx smx est tm2 "
            "ssse3 sdbg fma cx16 xtpr pdcm pcid dca sse4_1 sse4_2 x2apic movbe popcnt "
            "tsc_deadline_timer aes xsave avx f16c rdrand lahf_lm abm 3dnowprefetch cpuid_fault "
            "epb cat_l3 cdp_l3 invpcid_single pti intel_ppin ssbd mba ibrs ibpb stibp tpr_shadow "
            "vnmi flexpriority ept vpid ept_ad fsgsbase tsc_adjust bmi1 hle avx2 smep bmi2 erms "
            "invpcid rtm cqm mpx rdt_a avx512f avx512dq rdseed adx smap clflushopt clwb "
            "intel_pt avx512cd avx512bw avx512vl xsaveopt xsavec xgetbv1 xsaves cqm_llc "
            "cqm_occup_llc cqm_mbm_total cqm_mbm_local dtherm ida arat pln pts pku ospke md_clear "
            "flush_l1d arch_capabilities\nbogomips\t: 4200.00\naddress sizes\t: 46 bits "
            "physical, 48 bits virtual\n\n";
  }
  return text;
}

// A file that arrives in short reads, as /proc's record files do: a FIFO written a few hundred
// bytes at a time, each piece after the reader has had time to take the last one.
TEST(FileRead, AFileThatArrivesInShortReadsIsReadToItsEnd) {
  const fs::path dir = fs::temp_directory_path() / ("kestrava-fifo-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path fifo = dir / "cpuinfo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string text = cpuinfoText(64);
  ASSERT_GT(text.size(), 64u * 1024);
  std::thread writer([&] {
    // A reader that stops early gives this thread EPIPE, not the whole test a SIGPIPE.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    int fd = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return;
    for (size_t at = 0; at < text.size(); at += 700) {
      const size_t n = std::min<size_t>(700, text.size() - at);
      if (::write(fd, text.data() + at, n) != static_cast<ssize_t>(n)) break;
      std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    ::close(fd);
  });
  auto got = readFile(fifo.string(), 16 << 20);
  writer.join();
  fs::remove_all(dir);
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->size(), text.size());
  const auto cpus = parseCpuInfo(*got);
  ASSERT_EQ(cpus.size(), 64u);
  EXPECT_EQ(cpus.back().processor, 63);
  EXPECT_EQ(cpus.back().modelName, "Intel(R) Xeon(R) Gold 6130 CPU @ 2.10GHz");
  EXPECT_EQ(cpus.back().cpuCores, 16);
}

// readAt saves the read that would return 0; that holds only because the kernel makes each of
// these files whole before it answers the first read. Checked on the running kernel, for a
// process of this program and for PID 1.
TEST(FileRead, TheFilesReadWithOneReadArriveWholeInOneRead) {
  for (const char* dir : {"/proc/self", "/proc/1"}) {
    sys::UniqueFd d = openAt(AT_FDCWD, dir, O_DIRECTORY);
    ASSERT_TRUE(d) << dir;
    for (const char* name : {"stat", "status", "io"}) {
      sys::UniqueFd fd = openAt(d.get(), name);
      if (!fd) continue;  // io of another user's process
      char buf[16384];
      const ssize_t first = ::read(fd.get(), buf, sizeof buf);
      if (first < 0) continue;
      ASSERT_GT(first, 0) << dir << "/" << name;
      ASSERT_LT(static_cast<size_t>(first), sizeof buf) << dir << "/" << name;
      EXPECT_EQ(::read(fd.get(), buf, sizeof buf), 0)
          << dir << "/" << name << " did not arrive in one read";
    }
  }
}

}  // namespace
}  // namespace kestrava::service::linuxsys
