#include "service/linux/EventLogFileProvider.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utmp.h>

#include <algorithm>
#include <array>
#include <map>

#include "service/CaseFold.h"
#include "service/linux/CimDateTime.h"
#include "service/linux/FileAccess.h"
#include "service/linux/HostInfo.h"
#include "service/linux/LogRecords.h"
#include "service/linux/LogTree.h"
#include "service/linux/MountGuard.h"
#include "service/linux/MountInfo.h"
#include "service/linux/PropertyTable.h"
#include "sys/Utf8.h"

namespace kestrava::service::linuxsys {

namespace {
// What the logs of one enumeration share, fixed before any is read, so that the mount guard's
// threads may read it at once.
struct LogContext {
  std::string hostname;
  std::vector<MountEntry> mounts;
  std::shared_ptr<LogCountCache> counts;
};

// The open file and its first bytes, read once for the kind and the record count.
struct FileHead {
  sys::UniqueFd fd;
  std::string bytes;
};

// One log file; its metadata and contents are read on first use, on a thread of the mount guard
// (progress). Without progress, its mount did not answer and only what its name tells is known.
struct LogRecord {
  const LogContext& context;
  const std::string& rel;
  const std::string& key;
  const std::string& path;
  MountGuard::Progress* progress;
  Lazy<std::optional<struct statx>> meta;
  Lazy<std::optional<FileHead>> head;
  Lazy<std::optional<int64_t>> records;
  Lazy<const MountEntry*> mount;

  const struct statx* stat() {
    const auto& m = meta.get([&]() -> std::optional<struct statx> {
      struct statx sx {};
      if (!progress) return std::nullopt;
      if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME,
                  &sx) != 0)
        return std::nullopt;
      return sx;
    });
    return m ? &*m : nullptr;
  }
  FileHead* fileHead() {
    auto& h = head.get([&]() -> std::optional<FileHead> {
      if (!progress) return std::nullopt;
      sys::UniqueFd fd = openAt(AT_FDCWD, path.c_str(), O_NOFOLLOW | O_NONBLOCK);
      if (!fd) return std::nullopt;  // a log the user may not read
      std::string bytes(4096, '\0');
      ssize_t n = ::pread(fd.get(), bytes.data(), bytes.size(), 0);
      if (n < 0) return std::nullopt;
      bytes.resize(static_cast<size_t>(n));
      return FileHead{std::move(fd), std::move(bytes)};
    });
    return h ? &*h : nullptr;
  }
  std::optional<LogKind> kind() {
    if (auto byName = classifyLogByName(rel)) return byName;
    FileHead* h = fileHead();
    return h ? std::optional(classifyLog(rel, h->bytes)) : std::nullopt;
  }
  std::optional<int64_t> recordCount();
  std::optional<int64_t> countTextLines(int fd);
  const MountEntry* containingMount();
};

// Counted up to the size of the identity it is remembered by, so the two always agree.
std::optional<int64_t> LogRecord::countTextLines(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return std::nullopt;
  const FileIdentity identity{st.st_dev, st.st_ino, static_cast<uint64_t>(st.st_size),
                              st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
  if (auto known = context.counts->find(identity)) return known;
  auto lines = countLines(fd, identity.size, [this] { return progress->tick(); });
  if (lines) context.counts->store(identity, *lines);
  return lines;
}

std::optional<int64_t> LogRecord::recordCount() {
  return records.get([&]() -> std::optional<int64_t> {
    auto k = kind();
    FileHead* h = fileHead();
    if (!k || !h) return std::nullopt;
    if (*k == LogKind::Text) return countTextLines(h->fd.get());
    if (*k == LogKind::Journal) {
      std::string header(kJournalHeaderSize, '\0');
      ssize_t n = ::pread(h->fd.get(), header.data(), header.size(), 0);
      return n > 0 ? journalEntries(std::string_view(header.data(), static_cast<size_t>(n)))
                   : std::nullopt;
    }
    const struct statx* s = stat();
    if (*k == LogKind::LoginRecords && s && s->stx_size % sizeof(struct utmp) == 0)
      return static_cast<int64_t>(s->stx_size / sizeof(struct utmp));
    return std::nullopt;  // compressed and binary logs have no count that is cheap and faithful
  });
}

// The mount holding the file: same device, and the longest mount point that prefixes the path.
const MountEntry* LogRecord::containingMount() {
  return mount.get([&]() -> const MountEntry* {
    const struct statx* s = stat();
    if (!s) return nullptr;
    const MountEntry* best = nullptr;
    for (const auto& m : context.mounts) {
      if (m.major != s->stx_dev_major || m.minor != s->stx_dev_minor) continue;
      const bool prefix = m.mountPoint == "/" || path.starts_with(m.mountPoint + "/");
      if (!best || (prefix && m.mountPoint.size() > best->mountPoint.size())) best = &m;
    }
    return best;
  });
}

using P = PropertyDef<LogRecord>;

Value fullPath(LogRecord& r) {
  return Value::text(sys::validUtf8(r.path));
}

Value fileTime(LogRecord& r, struct statx_timestamp statx::*field, unsigned needMask = 0) {
  const struct statx* s = r.stat();
  if (!s || (needMask && !(s->stx_mask & needMask))) return Value::null();
  const struct statx_timestamp& t = s->*field;
  if (needMask && t.tv_sec == 0 && t.tv_nsec == 0) return Value::null();  // birth time not kept
  return Value::text(cimLocalDateTime(t.tv_sec, static_cast<int32_t>(t.tv_nsec / 1000)));
}

Value attribute(LogRecord& r, uint64_t attr) {
  const struct statx* s = r.stat();
  if (!s || !(s->stx_attributes_mask & attr)) return Value::null();
  return Value::boolean((s->stx_attributes & attr) != 0);
}

Value access(LogRecord& r, int mode) {
  if (!r.progress) return Value::null();
  return Value::boolean(::faccessat(AT_FDCWD, r.path.c_str(), mode, AT_EACCESS) == 0);
}

std::string_view baseName(const std::string& rel) {
  return std::string_view(rel).substr(rel.rfind('/') + 1);
}

constexpr auto kProperties = std::to_array<P>({
    {"AccessMask", {"null", "", "none"}, [](LogRecord&) { return nullValue(); }},
    {"Archive", {"null", "", "none"}, [](LogRecord&) { return nullValue(); }},
    {"Caption", {"string", "", "full path"}, fullPath},
    {"Compressed",
     {"boolean", "",
      "a compressed log by its extension (`.gz`, `.xz`, `.bz2`, `.zst`, `.lz4`), else the file's "
      "`STATX_ATTR_COMPRESSED` attribute where the file system reports it"},
     [](LogRecord& r) {
       if (!compressionMethod(r.rel).empty()) return Value::boolean(true);
       return attribute(r, STATX_ATTR_COMPRESSED);
     }},
    {"CompressionMethod",
     {"string", "", "`gzip`, `xz`, `bzip2`, `zstd` or `lz4` from the extension"},
     [](LogRecord& r) {
       std::string_view m = compressionMethod(r.rel);
       return m.empty() ? Value::null() : Value::text(std::string(m));
     }},
    {"CreationClassName",
     {"string", "", "constant `Win32_NTEventLogFile`"},
     [](LogRecord&) { return Value::text("Win32_NTEventLogFile"); }},
    {"CreationDate",
     {"datetime", "", "`statx` birth time, where the file system keeps it"},
     [](LogRecord& r) { return fileTime(r, &statx::stx_btime, STATX_BTIME); }},
    {"CSCreationClassName",
     {"string", "", "constant `Win32_ComputerSystem`"},
     [](LogRecord&) { return Value::text("Win32_ComputerSystem"); }},
    {"CSName",
     {"string", "", "`uname()` nodename"},
     [](LogRecord& r) { return nonEmptyTextOrNull(r.context.hostname); }},
    {"Description", {"string", "", "full path"}, fullPath},
    {"Drive",
     {"string", "",
      "mount point of the file system holding the file (same device in mountinfo, longest prefix)"},
     [](LogRecord& r) {
       const MountEntry* m = r.containingMount();
       return m ? Value::text(sys::validUtf8(m->mountPoint)) : Value::null();
     }},
    {"EightDotThreeFileName", {"null", "", "none"}, [](LogRecord&) { return nullValue(); }},
    {"Encrypted",
     {"boolean", "", "`STATX_ATTR_ENCRYPTED` where the file system reports it"},
     [](LogRecord& r) { return attribute(r, STATX_ATTR_ENCRYPTED); }},
    {"EncryptionMethod", {"null", "", "none"}, [](LogRecord&) { return nullValue(); }},
    {"Extension",
     {"string", "", "the extension without its dot; empty text when none"},
     [](LogRecord& r) { return Value::text(sys::validUtf8(logExtension(r.rel))); }},
    {"FileName",
     {"string", "", "the file name without its extension"},
     [](LogRecord& r) {
       std::string_view base = baseName(r.rel);
       std::string_view ext = logExtension(r.rel);
       return Value::text(
           sys::validUtf8(ext.empty() ? base : base.substr(0, base.size() - ext.size() - 1)));
     }},
    {"FileSize",
     {"uint64", "bytes", "`statx` size"},
     [](LogRecord& r) {
       const struct statx* s = r.stat();
       return s ? decimalText(s->stx_size) : Value::null();
     }},
    {"FileType",
     {"string", "",
      "`Text log`, `Compressed log`, `Journal` (`*.journal`, `*.journal~`), `Login records` "
      "(`wtmp*`, `btmp*`) or `Binary log` (a NUL byte in the first 4 KiB)"},
     [](LogRecord& r) {
       static constexpr const char* kNames[] = {"Text log", "Compressed log", "Journal",
                                                "Login records", "Binary log"};
       auto k = r.kind();
       return k ? Value::text(kNames[static_cast<int>(*k)]) : Value::null();
     }},
    {"FSCreationClassName",
     {"string", "", "constant `Win32_FileSystem`"},
     [](LogRecord&) { return Value::text("Win32_FileSystem"); }},
    {"FSName",
     {"string", "", "file system type of the holding mount"},
     [](LogRecord& r) {
       const MountEntry* m = r.containingMount();
       return m ? Value::text(sys::validUtf8(m->fsType)) : Value::null();
     }},
    {"Hidden",
     {"boolean", "", "the name starts with a dot"},
     [](LogRecord& r) { return Value::boolean(baseName(r.rel).starts_with('.')); }},
    {"InstallDate", {"null", "", "none"}, [](LogRecord&) { return nullValue(); }},
    {"InUseCount", {"null", "", "none"}, [](LogRecord&) { return nullValue(); }},
    {"LastAccessed",
     {"datetime", "", "`statx` atime"},
     [](LogRecord& r) { return fileTime(r, &statx::stx_atime); }},
    {"LastModified",
     {"datetime", "", "`statx` mtime"},
     [](LogRecord& r) { return fileTime(r, &statx::stx_mtime); }},
    {"LogFileName",
     {"string", "",
      "the path below `/var/log` without its extension (`apt/history` for `apt/history.log`); the "
      "whole path where that would name two files (`syslog.1` beside `syslog`) or equal another "
      "file's whole path"},
     [](LogRecord& r) { return Value::text(sys::validUtf8(r.key)); }},
    {"Manufacturer", {"null", "", "none"}, [](LogRecord&) { return nullValue(); }},
    {"MaxFileSize", {"null", "", "none"}, [](LogRecord&) { return nullValue(); }},
    {"Name", {"string", "", "full path"}, fullPath},
    {"NumberOfRecords",
     {"integer", "",
      "text logs: the number of lines (a last line without a newline counts), of any size, read in "
      "pieces and remembered by file identity (device, inode, size, modification time), so a log "
      "that has not changed is not read again; journal files: `n_entries` of the journal header; "
      "`wtmp`/`btmp`: size / the size of one login record; compressed and other binary logs and "
      "logs the user may not read: null"},
     [](LogRecord& r) { return integerOrNull(r.recordCount()); }},
    {"OverWriteOutDated", {"null", "", "none"}, [](LogRecord&) { return nullValue(); }},
    {"OverWritePolicy", {"null", "", "none"}, [](LogRecord&) { return nullValue(); }},
    {"Path",
     {"string", "", "the directory, with a trailing `/`"},
     [](LogRecord& r) {
       return Value::text(sys::validUtf8(r.path.substr(0, r.path.rfind('/') + 1)));
     }},
    {"Readable",
     {"boolean", "", "`faccessat(R_OK, AT_EACCESS)`"},
     [](LogRecord& r) { return access(r, R_OK); }},
    {"Sources", {"null", "", "none"}, [](LogRecord&) { return nullValue(); }},
    {"Status", {"null", "", "none"}, [](LogRecord&) { return nullValue(); }},
    {"System", {"null", "", "none"}, [](LogRecord&) { return nullValue(); }},
    {"Version", {"null", "", "none"}, [](LogRecord&) { return nullValue(); }},
    {"Writeable",
     {"boolean", "", "`faccessat(W_OK, AT_EACCESS)`"},
     [](LogRecord& r) { return access(r, W_OK); }},
});

const SchemaPtr& logSchema() {
  static const SchemaPtr s =
      makeSchema<LogRecord>("Win32_NTEventLogFile", "LogFileName", kProperties);
  return s;
}

// The parts of the log tree, one per mount: the log directory's own mount, and each mount
// whose mount point lies below it. Mount points are compared as written, without resolving.
struct LogPart {
  LogTreePart tree;
  std::string mount;
};

std::vector<LogPart> logParts(std::string varLog, const std::vector<MountEntry>& mounts) {
  while (varLog.size() > 1 && varLog.back() == '/') varLog.pop_back();
  std::map<std::string, const MountEntry*> visible;  // the last mount on a mount point is seen
  for (const auto& m : mounts) visible[m.mountPoint] = &m;
  const MountEntry* own = nullptr;
  std::vector<LogPart> parts(1);
  for (const auto& [point, m] : visible) {
    if (varLog == point || point == "/" || varLog.starts_with(point + "/")) {
      if (!own || point.size() > own->mountPoint.size()) own = m;
    } else if (point.starts_with(varLog + "/")) {
      const std::string prefix = point.substr(varLog.size() + 1) + "/";
      const int depth = static_cast<int>(std::count(prefix.begin(), prefix.end(), '/'));
      parts.push_back({{point, prefix, depth, {}}, mountKey(*m)});
    }
  }
  parts[0] = {{varLog, "", 0, {}}, own ? mountKey(*own) : std::string()};
  for (auto& part : parts)
    for (const auto& other : parts)
      if (other.tree.prefix.size() > part.tree.prefix.size())
        part.tree.stopAt.push_back(other.tree.prefix);
  return parts;
}
}  // namespace

EventLogFileProvider::EventLogFileProvider(SystemRoot root, std::shared_ptr<LogCountCache> counts)
    : root_(std::move(root)),
      counts_(counts ? std::move(counts) : std::make_shared<LogCountCache>()) {
  if (!root_.mountGuard) root_.mountGuard = std::make_shared<MountGuard>();
}

std::vector<PropertyDoc> EventLogFileProvider::documentation() const {
  return documentTable<LogRecord>(kProperties);
}

const SchemaPtr& EventLogFileProvider::schema() const {
  return logSchema();
}

void EventLogFileProvider::enumerate(const PropertySet& wanted,
                                     const std::function<bool(ManagementObject&&)>& sink) {
  const bool complete = enumerateWhere(wanted, sink, [](const std::string&) { return true; });
  // Counts of logs that have changed or gone are forgotten once every log has been counted.
  if (complete && wanted.wants(*schema()->indexOf("NumberOfRecords"))) counts_->sweep();
}

void EventLogFileProvider::enumerateKey(std::string_view keyText, const PropertySet& wanted,
                                        const std::function<bool(ManagementObject&&)>& sink) {
  enumerateWhere(wanted, sink,
                 [&](const std::string& key) { return compareFolded(key, keyText) == 0; });
}

std::optional<ManagementObject> EventLogFileProvider::get(const std::string& key) {
  std::optional<ManagementObject> found;
  enumerateWhere(
      PropertySet::all(),
      [&](ManagementObject&& object) {
        found = std::move(object);
        return false;
      },
      [&](const std::string& k) { return k == key; });
  return found;
}

// The tree is listed, then the logs are read, each on a thread of the mount guard: a log on a
// mount that does not answer keeps what its name tells and has the rest null, and the logs
// below a mount point that does not answer are not listed.
bool EventLogFileProvider::enumerateWhere(
    const PropertySet& wanted, const std::function<bool(ManagementObject&&)>& sink,
    const std::function<bool(const std::string&)>& keyWanted) {
  constexpr int kMaxDepth = 8;
  constexpr size_t kMaxFiles = 4096;
  auto context = std::make_shared<LogContext>();
  context->counts = counts_;
  if (wanted.wants(*schema()->indexOf("CSName")))
    context->hostname = HostInfo::read(root_).hostname;
  if (auto text = readFile(joinPath(root_.proc, "self/mountinfo"), 16 << 20))
    context->mounts = parseMountInfo(*text);

  const std::vector<LogPart> parts = logParts(root_.varLog, context->mounts);
  auto listed = std::make_shared<std::vector<std::vector<std::string>>>(parts.size());
  std::vector<MountGuard::Call> scans;
  for (size_t i = 0; i < parts.size(); ++i)
    scans.push_back({parts[i].mount, [listed, i, tree = parts[i].tree](MountGuard::Progress& p) {
                       (*listed)[i] =
                           scanLogTreePart(tree, kMaxDepth, kMaxFiles, [&p] { return p.tick(); });
                     }});
  const std::vector<bool> scanned = root_.mountGuard->run(std::move(scans));

  struct File {
    std::string rel, key, path;
    size_t part;
  };
  std::vector<File> files;
  for (size_t i = 0; i < parts.size(); ++i)
    if (scanned[i])
      for (auto& rel : (*listed)[i]) files.push_back({std::move(rel), {}, {}, i});
  std::sort(files.begin(), files.end(), [](const File& a, const File& b) { return a.rel < b.rel; });
  if (files.size() > kMaxFiles) files.resize(kMaxFiles);
  std::vector<std::string> rels;
  for (const File& f : files) rels.push_back(f.rel);
  const std::vector<std::string> keys = assignLogKeys(rels);
  auto chosen = std::make_shared<std::vector<File>>();
  for (size_t i = 0; i < files.size(); ++i) {
    if (!keyWanted(keys[i])) continue;
    files[i].key = keys[i];
    files[i].path = joinPath(root_.varLog, files[i].rel);
    chosen->push_back(std::move(files[i]));
  }

  auto objects = std::make_shared<std::vector<ManagementObject>>(chosen->size());
  std::vector<MountGuard::Call> reads;
  for (size_t i = 0; i < chosen->size(); ++i)
    reads.push_back({parts[(*chosen)[i].part].mount,
                     [objects, chosen, context, wanted, i](MountGuard::Progress& p) {
                       const File& f = (*chosen)[i];
                       LogRecord record{*context, f.rel, f.key, f.path, &p, {}, {}, {}, {}};
                       (*objects)[i] =
                           buildObject<LogRecord>(logSchema(), kProperties, wanted, record);
                     }});
  const std::vector<bool> read = root_.mountGuard->run(std::move(reads));
  for (size_t i = 0; i < chosen->size(); ++i) {
    if (!read[i]) {
      const File& f = (*chosen)[i];
      LogRecord record{*context, f.rel, f.key, f.path, nullptr, {}, {}, {}, {}};
      (*objects)[i] = buildObject<LogRecord>(logSchema(), kProperties, wanted, record);
    }
    if (!sink(std::move((*objects)[i]))) return false;
  }
  return true;
}

}  // namespace kestrava::service::linuxsys
