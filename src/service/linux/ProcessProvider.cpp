#include "service/linux/ProcessProvider.h"

#include <fcntl.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "service/linux/CimDateTime.h"
#include "service/linux/FileAccess.h"
#include "service/linux/ProcessRecord.h"
#include "service/linux/PropertyTable.h"
#include "sys/Utf8.h"

namespace kestrava::service::linuxsys {

namespace {
using P = PropertyDef<ProcessRecord>;

// Clock ticks as the class's 100-nanosecond units.
Value ticksAs100ns(ProcessRecord& r, uint64_t sys::ProcStat::*field) {
  const sys::ProcStat* s = r.stat();
  if (!s) return Value::null();
  const uint64_t hz = static_cast<uint64_t>(r.context().root().clockTicksPerSecond);
  const uint64_t ticks = s->*field;
  return decimalText(ticks / hz * 10'000'000 + ticks % hz * 10'000'000 / hz);
}

Value creationDate(ProcessRecord& r) {
  const sys::ProcStat* s = r.stat();
  const auto& boot = r.context().bootTime();
  if (!s || !boot) return Value::null();
  const uint64_t hz = static_cast<uint64_t>(r.context().root().clockTicksPerSecond);
  const int64_t secs = *boot + static_cast<int64_t>(s->startTime / hz);
  const auto micros = static_cast<int32_t>(s->startTime % hz * 1'000'000 / hz);
  return Value::text(cimLocalDateTime(secs, micros));
}

Value nameValue(ProcessRecord& r) {
  const std::string* n = r.name();
  return n ? Value::text(*n) : Value::null();
}

template <class T>
Value statusKb(ProcessRecord& r, std::optional<uint64_t> ProcStatus::*field, T convert) {
  const ProcStatus* s = r.status();
  if (!s || !(s->*field)) return Value::null();
  return convert(*(s->*field));
}

Value statusBytes(ProcessRecord& r, std::optional<uint64_t> ProcStatus::*field) {
  return statusKb(r, field, [](uint64_t kb) { return decimalText(kb * 1024); });
}

Value statusKilobytes(ProcessRecord& r, std::optional<uint64_t> ProcStatus::*field) {
  return statusKb(r, field, [](uint64_t kb) { return Value::integer(static_cast<int64_t>(kb)); });
}

Value ioCount(ProcessRecord& r, std::optional<uint64_t> ProcIo::*field) {
  const ProcIo* io = r.io();
  return io ? decimalTextOrNull(io->*field) : Value::null();
}

template <class F>
Value fromStat(ProcessRecord& r, F f) {
  const sys::ProcStat* s = r.stat();
  return s ? f(*s) : Value::null();
}

constexpr auto kProperties = std::to_array<P>({
    {"Caption", {"string", "", "same as Name"}, nameValue},
    {"CommandLine", {"string", "", "`/proc/<pid>/cmdline`, arguments joined by single spaces; null for kernel threads and zombies"},
     [](ProcessRecord& r) {
       const auto& c = r.cmdline();
       return c ? Value::text(sys::validUtf8(*c)) : Value::null();
     }},
    {"CreationClassName", {"string", "", "constant `Win32_Process`"}, [](ProcessRecord&) { return Value::text("Win32_Process"); }},
    {"CreationDate", {"datetime", "", "`btime` of `/proc/stat` + `stat` field 22 (starttime) / `sysconf(_SC_CLK_TCK)`"}, creationDate},
    {"CSCreationClassName", {"string", "", "constant `Win32_ComputerSystem`"}, [](ProcessRecord&) { return Value::text("Win32_ComputerSystem"); }},
    {"CSName", {"string", "", "`uname()` nodename"}, [](ProcessRecord& r) { return Value::text(r.context().hostname()); }},
    {"Description", {"string", "", "same as Name"}, nameValue},
    {"ExecutablePath", {"string", "", "`readlink /proc/<pid>/exe` (as the kernel gives it, ` (deleted)` included); null for kernel threads and other users' processes"},
     [](ProcessRecord& r) {
       const auto& e = r.exe();
       return e ? Value::text(sys::validUtf8(*e)) : Value::null();
     }},
    {"Handle", {"string", "", "the PID"}, [](ProcessRecord& r) { return Value::text(std::to_string(r.pid())); }},
    {"HandleCount", {"integer", "", "open file descriptors: the size of `/proc/<pid>/fd` where the kernel gives the count as its size (procfs since Linux 6.2, known by this process's own descriptor table having a size), otherwise a count of its entries; null when neither can be read"}, [](ProcessRecord& r) { return integerOrNull(r.handleCount()); }},
    {"InstallDate", {"null", "", "none"}, [](ProcessRecord&) { return nullValue(); }},
    {"KernelModeTime", {"uint64", "100 nanoseconds", "`stat` field 15 (stime) in clock ticks × 10⁷ / `_SC_CLK_TCK`"}, [](ProcessRecord& r) { return ticksAs100ns(r, &sys::ProcStat::stime); }},
    {"MaximumWorkingSetSize", {"null", "", "none (Linux enforces no working-set limit)"}, [](ProcessRecord&) { return nullValue(); }},
    {"MinimumWorkingSetSize", {"null", "", "none"}, [](ProcessRecord&) { return nullValue(); }},
    {"Name", {"string", "", "`stat` field 2 (comm). When the kernel cut the name to 15 bytes and the executable's file name starts with those 15 bytes, the executable's file name"}, nameValue},
    {"OSCreationClassName", {"string", "", "constant `Win32_OperatingSystem`"}, [](ProcessRecord&) { return Value::text("Win32_OperatingSystem"); }},
    {"OSName", {"string", "", "`PRETTY_NAME` of `/etc/os-release`"}, [](ProcessRecord& r) { return Value::text(r.context().osName()); }},
    {"OtherOperationCount", {"null", "", "none (Linux counts reads and writes only)"},
     [](ProcessRecord&) { return nullValue(); }, kInteger64},
    {"OtherTransferCount", {"null", "", "none"}, [](ProcessRecord&) { return nullValue(); },
     kInteger64},
    {"PageFaults", {"integer", "", "`stat` fields 10 + 12 (minflt + majflt)"},
     [](ProcessRecord& r) {
       return fromStat(r, [](const sys::ProcStat& s) {
         return Value::integer(static_cast<int64_t>(s.minflt + s.majflt));
       });
     }},
    {"PageFileUsage", {"integer", "kilobytes", "`VmSwap` of `/proc/<pid>/status`"}, [](ProcessRecord& r) { return statusKilobytes(r, &ProcStatus::vmSwapKb); }},
    {"ParentProcessID", {"integer", "", "`stat` field 4"},
     [](ProcessRecord& r) { return fromStat(r, [](const sys::ProcStat& s) { return Value::integer(s.ppid); }); }},
    {"PeakPageFileUsage", {"null", "", "none (Linux keeps no peak of swap use)"}, [](ProcessRecord&) { return nullValue(); }},
    {"PeakVirtualSize", {"uint64", "bytes", "`VmPeak` of `status` × 1024"}, [](ProcessRecord& r) { return statusBytes(r, &ProcStatus::vmPeakKb); }},
    {"PeakWorkingSetSize", {"integer", "kilobytes", "`VmHWM` of `status`"}, [](ProcessRecord& r) { return statusKilobytes(r, &ProcStatus::vmHwmKb); }},
    {"Priority", {"integer", "", "`stat` field 18, the kernel's priority (20 for nice 0; lower runs first, real-time below 0)"},
     [](ProcessRecord& r) {
       return fromStat(r, [](const sys::ProcStat& s) { return Value::integer(s.priority); });
     }},
    {"PrivatePageCount", {"uint64", "bytes", "`RssAnon` of `status` × 1024 (resident private memory)"}, [](ProcessRecord& r) { return statusBytes(r, &ProcStatus::rssAnonKb); }},
    {"ProcessID", {"integer", "", "the PID"}, [](ProcessRecord& r) { return Value::integer(r.pid()); }},
    {"QuotaNonPagedPoolUsage", {"null", "", "none"}, [](ProcessRecord&) { return nullValue(); }},
    {"QuotaPagedPoolUsage", {"null", "", "none"}, [](ProcessRecord&) { return nullValue(); }},
    {"QuotaPeakNonPagedPoolUsage", {"null", "", "none"}, [](ProcessRecord&) { return nullValue(); }},
    {"QuotaPeakPagedPoolUsage", {"null", "", "none"}, [](ProcessRecord&) { return nullValue(); }},
    {"ReadOperationCount", {"uint64", "", "`syscr` of `/proc/<pid>/io`"}, [](ProcessRecord& r) { return ioCount(r, &ProcIo::syscr); }},
    {"ReadTransferCount", {"uint64", "bytes", "`rchar` of `io` (all reads, not only from disk)"}, [](ProcessRecord& r) { return ioCount(r, &ProcIo::rchar); }},
    {"SessionID", {"integer", "", "`stat` field 6 (session ID)"},
     [](ProcessRecord& r) {
       return fromStat(r, [](const sys::ProcStat& s) { return Value::integer(s.session); });
     }},
    {"Status", {"null", "", "none"}, [](ProcessRecord&) { return nullValue(); }},
    {"TerminationDate", {"null", "", "none (only running processes are listed)"}, [](ProcessRecord&) { return nullValue(); }},
    {"ThreadCount", {"integer", "", "`stat` field 20"},
     [](ProcessRecord& r) {
       return fromStat(r, [](const sys::ProcStat& s) { return Value::integer(s.numThreads); });
     }},
    {"UserModeTime", {"uint64", "100 nanoseconds", "`stat` field 14 (utime), as KernelModeTime"}, [](ProcessRecord& r) { return ticksAs100ns(r, &sys::ProcStat::utime); }},
    {"VirtualSize", {"uint64", "bytes", "`stat` field 23 (vsize)"},
     [](ProcessRecord& r) { return fromStat(r, [](const sys::ProcStat& s) { return decimalText(s.vsize); }); }},
    {"WindowsVersion", {"string", "", "`uname()` release (the kernel version)"}, [](ProcessRecord& r) { return Value::text(r.context().kernelRelease()); }},
    {"WorkingSetSize", {"uint64", "bytes", "`VmRSS` of `status` × 1024; for a kernel thread, which has none, `stat` field 24 (rss) × page size"},
     [](ProcessRecord& r) {
       // VmRSS is exact; stat's rss is the kernel's cheap estimate, which lags by up to a batch of
       // pages per processor. A kernel thread has no VmRSS, and stat says 0 for it.
       if (const ProcStatus* status = r.status(); status && status->vmRssKb)
         return decimalText(*status->vmRssKb * 1024);
       const uint64_t page = static_cast<uint64_t>(r.context().root().pageSize);
       return fromStat(r, [page](const sys::ProcStat& s) {
         return decimalText(s.rss > 0 ? static_cast<uint64_t>(s.rss) * page : 0);
       });
     }},
    {"WriteOperationCount", {"uint64", "", "`syscw` of `io`"}, [](ProcessRecord& r) { return ioCount(r, &ProcIo::syscw); }},
    {"WriteTransferCount", {"uint64", "bytes", "`wchar` of `io`"}, [](ProcessRecord& r) { return ioCount(r, &ProcIo::wchar); }},
});

// The instance for one process, or nothing when it exited before its stat could be read.
std::optional<ManagementObject> readProcess(const SchemaPtr& schema, const PropertySet& wanted,
                                            ProcessContext& context, int procFd,
                                            const char* pidName) {
  sys::UniqueFd dir = openProcessDir(procFd, pidName);
  auto pid = parseSigned(pidName);
  if (!dir || !pid) return std::nullopt;
  ProcessRecord record(context, procFd, *pid, std::move(dir));
  ManagementObject object = buildObject<ProcessRecord>(schema, kProperties, wanted, record);
  if (record.vanished()) return std::nullopt;
  return object;
}
}  // namespace

ProcessProvider::ProcessProvider(SystemRoot root) : root_(std::move(root)) {}

std::vector<PropertyDoc> ProcessProvider::documentation() const {
  return documentTable<ProcessRecord>(kProperties);
}

const SchemaPtr& ProcessProvider::schema() const {
  static const SchemaPtr s = makeSchema<ProcessRecord>("Win32_Process", "Handle", kProperties);
  return s;
}

namespace {
// Processes read by several threads and handed on in PID order, as they come: the readers keep
// at most a few processes ahead of the sink, so a process that exits while the sink works on an
// earlier one is left out, and the objects held at once stay few.
class ParallelRead {
 public:
  ParallelRead(size_t count, size_t lookAhead)
      : objects_(count), ready_(count), lookAhead_(lookAhead) {}

  // Claims the next process to read, waiting while the readers are far enough ahead; nullopt
  // when all are claimed or the read has stopped.
  std::optional<size_t> claim(bool wait) {
    std::unique_lock lock(mutex_);
    const auto can = [&] {
      return stop_ || claimed_ >= objects_.size() || claimed_ < consumed_ + lookAhead_;
    };
    if (wait && !can()) {
      ++heldBack_;
      windowOpened_.wait(lock, can);
      --heldBack_;
    }
    if (stop_ || claimed_ >= objects_.size() || claimed_ >= consumed_ + lookAhead_)
      return std::nullopt;
    return claimed_++;
  }
  void deliver(size_t index, std::optional<ManagementObject> object) {
    std::lock_guard lock(mutex_);
    objects_[index] = std::move(object);
    ready_[index] = 1;
    if (index == consumed_) nextReady_.notify_one();  // the only one the sink waits for
  }
  void fail(std::exception_ptr failure) {
    std::lock_guard lock(mutex_);
    if (!failure_) failure_ = std::move(failure);
    stop_ = true;
    nextReady_.notify_all();
    windowOpened_.notify_all();
  }
  void stop() {
    std::lock_guard lock(mutex_);
    stop_ = true;
    windowOpened_.notify_all();
  }

  // Runs on the caller's thread: reads while the next process in order is not ready, hands each
  // on as it is. Rethrows what a reader threw.
  template <class Read>
  void consume(const Read& read, const std::function<bool(ManagementObject&&)>& sink) {
    for (;;) {
      std::unique_lock lock(mutex_);
      if (failure_) std::rethrow_exception(failure_);
      if (stop_ || consumed_ >= objects_.size()) return;
      if (ready_[consumed_]) {
        std::optional<ManagementObject> object = std::move(objects_[consumed_]);
        objects_[consumed_].reset();
        ++consumed_;
        if (heldBack_ > 0) windowOpened_.notify_one();
        lock.unlock();
        if (object && !sink(std::move(*object))) return;
        continue;
      }
      lock.unlock();
      if (auto index = claim(false)) {
        deliver(*index, read(*index));
        continue;
      }
      lock.lock();
      nextReady_.wait(lock, [&] { return failure_ || ready_[consumed_]; });
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable nextReady_;     // the sink waits for the next process in order
  std::condition_variable windowOpened_;  // readers wait for room in the look-ahead
  std::vector<std::optional<ManagementObject>> objects_;
  std::vector<char> ready_;
  size_t lookAhead_;
  size_t claimed_ = 0;
  size_t consumed_ = 0;
  size_t heldBack_ = 0;  // readers waiting for room
  bool stop_ = false;
  std::exception_ptr failure_;
};
}  // namespace

// The processes are read in parallel, one thread per core.
void ProcessProvider::enumerate(const PropertySet& wanted,
                                const std::function<bool(ManagementObject&&)>& sink) {
  sys::UniqueFd procFd = openAt(AT_FDCWD, root_.proc.c_str(), O_DIRECTORY);
  DirPtr dir = openDirFd(openAt(procFd.get(), ".", O_DIRECTORY));
  if (!dir) throw ComError(err::kWbemFailed, "Cannot read the process list", "Win32_Process");
  std::vector<std::string> pids;
  while (dirent* e = ::readdir(dir.get()))
    if (isAllDigits(e->d_name)) pids.emplace_back(e->d_name);

  constexpr size_t kProcessesPerThread = 64;  // fewer are read sooner than a thread starts
  constexpr size_t kLookAheadPerThread = 16;
  const size_t threads = std::min<size_t>({std::max(1u, std::thread::hardware_concurrency()), 8,
                                           pids.size() / kProcessesPerThread + 1});
  ProcessContext context(root_);
  const auto read = [&](size_t i) {
    return readProcess(schema(), wanted, context, procFd.get(), pids[i].c_str());
  };
  ParallelRead parallel(pids.size(), threads * kLookAheadPerThread);
  std::vector<std::jthread> helpers;
  // Declared after the helpers, so it runs first: they stop before they are joined.
  struct StopFirst {
    ParallelRead& parallel;
    ~StopFirst() { parallel.stop(); }
  } stopFirst{parallel};
  for (size_t t = 1; t < threads; ++t)
    helpers.emplace_back([&] {
      try {
        while (auto index = parallel.claim(true)) parallel.deliver(*index, read(*index));
      } catch (...) {
        parallel.fail(std::current_exception());
      }
    });
  parallel.consume(read, sink);
}

namespace {
// A key that names a process directory: digits only, no leading zero, at most ten of them.
bool isPidKey(const std::string& key) {
  return isAllDigits(key) && key.size() <= 10 && (key.size() == 1 || key[0] != '0');
}
}  // namespace

void ProcessProvider::enumerateKey(std::string_view keyText, const PropertySet& wanted,
                                   const std::function<bool(ManagementObject&&)>& sink) {
  const std::string key(keyText);
  if (!isPidKey(key)) return;  // no Handle is anything but a plain PID
  sys::UniqueFd procFd = openAt(AT_FDCWD, root_.proc.c_str(), O_DIRECTORY);
  if (!procFd) throw ComError(err::kWbemFailed, "Cannot read the process list", "Win32_Process");
  ProcessContext context(root_);
  if (auto object = readProcess(schema(), wanted, context, procFd.get(), key.c_str()))
    sink(std::move(*object));
}

std::optional<ManagementObject> ProcessProvider::get(const std::string& key) {
  if (!isPidKey(key)) return std::nullopt;
  sys::UniqueFd procFd = openAt(AT_FDCWD, root_.proc.c_str(), O_DIRECTORY);
  if (!procFd) return std::nullopt;
  ProcessContext context(root_);
  // Every property, stat included, so a process that has just exited is not found.
  return readProcess(schema(), PropertySet::all(), context, procFd.get(), key.c_str());
}

bool ProcessProvider::exists(const std::string& key) {
  if (!isPidKey(key)) return false;
  sys::UniqueFd procFd = openAt(AT_FDCWD, root_.proc.c_str(), O_DIRECTORY);
  sys::UniqueFd dir = procFd ? openProcessDir(procFd.get(), key.c_str()) : sys::UniqueFd();
  if (!dir) return false;
  ProcessContext context(root_);
  ProcessRecord record(context, procFd.get(), std::stoll(key), std::move(dir));
  return record.stat() != nullptr;
}

}  // namespace kestrava::service::linuxsys
