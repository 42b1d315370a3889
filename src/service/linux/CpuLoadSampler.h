#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "service/linux/KernelStat.h"

namespace kestrava::service::linuxsys {

// The busy share of each processor over a recent interval, from two readings of /proc/stat. The
// previous query's reading serves as the start when it is recent enough; otherwise a fresh one is
// taken and the sampler waits out the shortest interval.
class CpuLoadSampler {
 public:
  using Clock = std::chrono::steady_clock;
  using Sleep = std::function<void(std::chrono::milliseconds)>;

  CpuLoadSampler(std::string statPath, Sleep sleep,
                 std::chrono::milliseconds minInterval = std::chrono::milliseconds(100),
                 std::chrono::milliseconds maxAge = std::chrono::seconds(10));

  // The one sampler of this process for a stat file: every connection's provider uses it, so a
  // connection made soon after another measures from the last reading instead of waiting.
  static std::shared_ptr<CpuLoadSampler> shared(const std::string& statPath, Sleep sleep);

  // Takes a first reading, so that a query soon after need not wait the whole interval.
  void prime();

  // Load percentage by processor number; processors without a reading are absent.
  std::map<int64_t, int64_t> sample();

 private:
  std::optional<std::vector<CpuTicks>> read() const;

  std::string statPath_;
  Sleep sleep_;
  std::chrono::milliseconds minInterval_;
  std::chrono::milliseconds maxAge_;
  std::mutex mutex_;
  std::optional<std::vector<CpuTicks>> last_;
  Clock::time_point lastAt_;
};

}  // namespace kestrava::service::linuxsys
