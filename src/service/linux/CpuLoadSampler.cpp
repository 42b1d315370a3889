#include "service/linux/CpuLoadSampler.h"

#include "service/linux/FileAccess.h"

namespace kestrava::service::linuxsys {

CpuLoadSampler::CpuLoadSampler(std::string statPath, Sleep sleep,
                               std::chrono::milliseconds minInterval,
                               std::chrono::milliseconds maxAge)
    : statPath_(std::move(statPath)),
      sleep_(std::move(sleep)),
      minInterval_(minInterval),
      maxAge_(maxAge) {}

std::optional<std::vector<CpuTicks>> CpuLoadSampler::read() const {
  auto text = readFile(statPath_, 4 << 20);
  if (!text) return std::nullopt;
  return parseKernelStat(*text).cpus;
}

std::shared_ptr<CpuLoadSampler> CpuLoadSampler::shared(const std::string& statPath, Sleep sleep) {
  static std::mutex mutex;
  static std::map<std::string, std::shared_ptr<CpuLoadSampler>> samplers;
  std::lock_guard lock(mutex);
  auto& sampler = samplers[statPath];
  if (!sampler) sampler = std::make_shared<CpuLoadSampler>(statPath, std::move(sleep));
  return sampler;
}

void CpuLoadSampler::prime() {
  std::lock_guard lock(mutex_);
  if (last_ && Clock::now() - lastAt_ <= maxAge_) return;
  last_ = read();
  lastAt_ = Clock::now();
}

std::map<int64_t, int64_t> CpuLoadSampler::sample() {
  std::lock_guard lock(mutex_);
  auto age = [&] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastAt_);
  };
  if (!last_ || age() > maxAge_) {
    last_ = read();
    lastAt_ = Clock::now();
  }
  if (auto wait = minInterval_ - age(); wait.count() > 0 && sleep_) sleep_(wait);
  auto now = read();
  std::map<int64_t, int64_t> out;
  if (last_ && now) {
    std::map<int64_t, const CpuTicks*> before;
    for (const auto& t : *last_) before[t.cpu] = &t;
    for (const auto& t : *now)
      if (auto it = before.find(t.cpu); it != before.end())
        if (auto load = loadPercentage(*it->second, t)) out[t.cpu] = *load;
  }
  last_ = std::move(now);
  lastAt_ = Clock::now();
  return out;
}

}  // namespace kestrava::service::linuxsys
