#include "service/linux/ProcessRecord.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include <cerrno>

#include "service/linux/FileAccess.h"
#include "service/linux/HostInfo.h"
#include "service/linux/KernelStat.h"
#include "sys/Utf8.h"

namespace kestrava::service::linuxsys {

const std::optional<int64_t>& ProcessContext::bootTime() {
  return bootTime_.get([&]() -> std::optional<int64_t> {
    auto text = readFile(joinPath(root_.proc, "stat"), 4 << 20);
    if (!text) return std::nullopt;
    return parseKernelStat(*text).bootTime;
  });
}

const std::string& ProcessContext::hostname() {
  return hostname_.get([&] { return HostInfo::read(root_).hostname; });
}

const std::string& ProcessContext::osName() {
  return osName_.get([&] { return osPrettyName(readOsRelease(root_)); });
}

const std::string& ProcessContext::kernelRelease() {
  return release_.get([&] { return HostInfo::read(root_).release; });
}

bool ProcessContext::fdSizeIsCount(int procFd) {
  return fdSizeIsCount_.get([&] {
    struct statfs fs {};
    struct stat own {};
    return ::fstatfs(procFd, &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC &&
           ::fstatat(procFd, "self/fd", &own, 0) == 0 && own.st_size > 0;
  });
}

sys::UniqueFd openProcessDir(int procFd, const char* pidName) {
  return openAt(procFd, pidName, O_PATH | O_DIRECTORY);
}

std::string joinCmdline(std::string_view raw) {
  while (!raw.empty() && raw.back() == '\0') raw.remove_suffix(1);
  std::string out(raw);
  for (char& c : out)
    if (c == '\0') c = ' ';
  return out;
}

ProcessRecord::ProcessRecord(ProcessContext& context, int procFd, int64_t pid, sys::UniqueFd dir)
    : context_(context), procFd_(procFd), pid_(pid), dir_(std::move(dir)) {}

const sys::ProcStat* ProcessRecord::stat() {
  const auto& s = stat_.get([&]() -> std::optional<sys::ProcStat> {
    char buf[1024];
    ptrdiff_t n = readAt(dir_.get(), "stat", buf, sizeof buf);
    auto parsed =
        n > 0 ? sys::parseProcStat(std::string_view(buf, static_cast<size_t>(n))) : std::nullopt;
    if (!parsed) vanished_ = true;  // stat is readable by everyone while the process exists
    return parsed;
  });
  return s ? &*s : nullptr;
}

const ProcStatus* ProcessRecord::status() {
  const auto& s = status_.get([&]() -> std::optional<ProcStatus> {
    char buf[8192];
    ptrdiff_t n = readAt(dir_.get(), "status", buf, sizeof buf);
    if (n <= 0) return std::nullopt;
    return parseProcStatus(std::string_view(buf, static_cast<size_t>(n)));
  });
  return s ? &*s : nullptr;
}

const ProcIo* ProcessRecord::io() {
  const auto& s = io_.get([&]() -> std::optional<ProcIo> {
    char buf[1024];
    ptrdiff_t n = readAt(dir_.get(), "io", buf, sizeof buf);
    if (n <= 0) return std::nullopt;  // another user's process: EACCES
    return parseProcIo(std::string_view(buf, static_cast<size_t>(n)));
  });
  return s ? &*s : nullptr;
}

const std::optional<std::string>& ProcessRecord::exe() {
  return exe_.get([&] { return readLinkAt(dir_.get(), "exe"); });
}

const std::optional<std::string>& ProcessRecord::cmdline() {
  return cmdline_.get([&]() -> std::optional<std::string> {
    auto raw = readFileAt(dir_.get(), "cmdline", 1 << 20);
    if (!raw || raw->empty()) return std::nullopt;  // kernel threads and zombies have none
    return joinCmdline(*raw);
  });
}

std::optional<int64_t> ProcessRecord::handleCount() {
  struct stat st {};
  if (context_.fdSizeIsCount(procFd_))
    return ::fstatat(dir_.get(), "fd", &st, 0) == 0 ? std::optional<int64_t>(st.st_size)
                                                    : std::nullopt;
  DirPtr d = openDirFd(openAt(dir_.get(), "fd", O_DIRECTORY));
  if (!d) return std::nullopt;
  int64_t count = 0;
  while (dirent* e = ::readdir(d.get()))
    if (e->d_name[0] != '.') ++count;
  return count;
}

const std::string* ProcessRecord::name() {
  const auto& n = name_.get([&]() -> std::optional<std::string> {
    const sys::ProcStat* s = stat();
    if (!s) return std::nullopt;
    std::string_view comm = s->comm;
    if (comm.size() == 15 && exe()) {  // TASK_COMM_LEN cut the name short
      std::string_view path = *exe();
      std::string_view base = path.substr(path.rfind('/') + 1);
      if (base.ends_with(" (deleted)")) base.remove_suffix(10);
      if (base.size() > comm.size() && base.starts_with(comm)) return sys::validUtf8(base);
    }
    return sys::validUtf8(comm);
  });
  return n ? &*n : nullptr;
}

}  // namespace kestrava::service::linuxsys
