#include "service/systemd/SysvServiceProvider.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <memory>
#include <set>
#include <system_error>

#include "service/systemd/InitScriptProcess.h"
#include "service/systemd/LsbHeader.h"
#include "service/systemd/ServiceMapping.h"
#include "service/systemd/ServiceReturnCode.h"
#include "service/systemd/ServiceSchema.h"
#include "sys/Utf8.h"

namespace kestrava::service {

namespace {

constexpr int kLsbRunning = 0;
constexpr int kLsbStopped = 3;
constexpr size_t kParallelStatus = 8;

enum Source : unsigned { kStatus = 1, kHeader = 2, kRcLinks = 4 };

// What one script tells, read as far as the wanted properties need.
struct Script {
  std::string name;
  std::filesystem::path path;
  std::optional<int> status;  // exit code of `status`; nullopt when it did not end in time
  LsbHeader header;
  bool autoStart = false;
};

std::string stateOf(const Script& s) {
  if (s.status == kLsbRunning) return "Running";
  if (s.status == kLsbStopped) return "Stopped";
  return "Unknown";
}

std::string statusOf(const Script& s) {
  if (s.status == kLsbRunning || s.status == kLsbStopped) return "OK";
  if (s.status == 1 || s.status == 2) return "Error";  // dead, with its pid or lock file left
  return "Unknown";
}

std::string shownName(const Script& s) {
  return s.header.shortDescription.empty() ? s.name : s.header.shortDescription;
}

using Reader = Value (*)(const Script&, const std::string& systemName);
struct Column {
  std::string_view property;
  unsigned sources;
  Reader read;
};

const std::array<Column, 25> kColumns{{
    {"AcceptPause", 0, [](const Script&, const std::string&) { return Value::boolean(false); }},
    {"AcceptStop", kStatus,
     [](const Script& s, const std::string&) { return Value::boolean(s.status == kLsbRunning); }},
    {"Caption", kHeader,
     [](const Script& s, const std::string&) { return Value::text(shownName(s)); }},
    {"CheckPoint", 0, [](const Script&, const std::string&) { return Value::integer(0); }},
    {"CreationClassName", 0,
     [](const Script&, const std::string&) { return Value::text("Win32_Service"); }},
    {"Description", kHeader,
     [](const Script& s, const std::string&) {
       const std::string& d =
           s.header.description.empty() ? s.header.shortDescription : s.header.description;
       return d.empty() ? Value::null() : Value::text(d);
     }},
    {"DesktopInteract", 0, [](const Script&, const std::string&) { return Value::boolean(false); }},
    {"DisplayName", kHeader,
     [](const Script& s, const std::string&) { return Value::text(shownName(s)); }},
    {"ErrorControl", 0, [](const Script&, const std::string&) { return Value::null(); }},
    {"ExitCode", 0, [](const Script&, const std::string&) { return Value::null(); }},
    {"InstallDate", 0, [](const Script&, const std::string&) { return Value::null(); }},
    {"Name", 0, [](const Script& s, const std::string&) { return Value::text(s.name); }},
    {"PathName", 0,
     [](const Script& s, const std::string&) { return Value::text(s.path.string()); }},
    {"ProcessId", 0, [](const Script&, const std::string&) { return Value::null(); }},
    {"ServiceSpecificExitCode", 0, [](const Script&, const std::string&) { return Value::null(); }},
    {"ServiceType", 0,
     [](const Script&, const std::string&) { return Value::text("Own Process"); }},
    {"Started", kStatus,
     [](const Script& s, const std::string&) { return Value::boolean(s.status == kLsbRunning); }},
    {"StartMode", kRcLinks,
     [](const Script& s, const std::string&) {
       return Value::text(s.autoStart ? "Auto" : "Manual");
     }},
    {"StartName", 0, [](const Script&, const std::string&) { return Value::text("root"); }},
    {"State", kStatus, [](const Script& s, const std::string&) { return Value::text(stateOf(s)); }},
    {"Status", kStatus,
     [](const Script& s, const std::string&) { return Value::text(statusOf(s)); }},
    {"SystemCreationClassName", 0,
     [](const Script&, const std::string&) { return Value::text("Win32_ComputerSystem"); }},
    {"SystemName", 0, [](const Script&, const std::string& host) { return Value::text(host); }},
    {"TagId", 0, [](const Script&, const std::string&) { return Value::integer(0); }},
    {"WaitHint", 0, [](const Script&, const std::string&) { return Value::integer(0); }},
}};

const Column& columnAt(size_t schemaIndex) {
  static const std::vector<const Column*> byIndex = [] {
    const SchemaPtr& schema = win32ServiceSchema();
    std::vector<const Column*> columns(schema->size(), nullptr);
    for (const Column& c : kColumns) columns.at(schema->indexOf(c.property).value()) = &c;
    return columns;
  }();
  return *byIndex.at(schemaIndex);
}

bool isHelperName(const std::string& name) {
  static const std::set<std::string> kHelpers{"README", "skeleton", "rc", "rcS", "functions"};
  if (name.empty() || name.front() == '.' || name.back() == '~' || kHelpers.count(name))
    return true;
  for (std::string_view junk : {".dpkg-", ".ucf-", ".rpmnew", ".rpmsave", ".orig", ".bak"})
    if (name.find(junk) != std::string::npos) return true;
  return false;
}

// Names with an S link (start) in any of the multi-user runlevels 2 to 5.
std::set<std::string> startedAtBoot(const std::filesystem::path& initDir) {
  std::set<std::string> names;
  for (char level : {'2', '3', '4', '5'}) {
    std::error_code ec;
    auto dir = initDir.parent_path() / (std::string("rc") + level + ".d");
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
      std::string link = entry.path().filename().string();
      if (link.size() > 3 && link[0] == 'S' && std::isdigit(static_cast<unsigned char>(link[1])) &&
          std::isdigit(static_cast<unsigned char>(link[2])))
        names.insert(link.substr(3));
    }
  }
  return names;
}

// Runs `status` of every script, a few at a time, all within one deadline.
void readStatuses(std::vector<Script>& scripts, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (size_t first = 0; first < scripts.size(); first += kParallelStatus) {
    const size_t last = std::min(scripts.size(), first + kParallelStatus);
    std::vector<std::unique_ptr<InitScriptProcess>> running(last - first);
    for (size_t i = first; i < last; ++i) {
      try {
        running[i - first] =
            std::make_unique<InitScriptProcess>(scripts[i].path.string(), "status");
      } catch (const std::system_error&) {
        scripts[i].status.reset();
      }
    }
    for (size_t i = first; i < last; ++i)
      if (running[i - first]) scripts[i].status = running[i - first]->waitUntil(deadline);
  }
}

int32_t returnCodeForAction(std::optional<int> exitCode) {
  if (!exitCode) return serviceReturn::kUnknownFailure;  // it did not finish in time
  switch (*exitCode) {
    case 0:
      return serviceReturn::kSuccess;
    case 3:  // LSB: unimplemented feature
      return serviceReturn::kNotSupported;
    case 4:  // LSB: user had insufficient privilege
      return serviceReturn::kAccessDenied;
    case 7:  // LSB: program is not running
      return serviceReturn::kNotActive;
    default:
      return serviceReturn::kUnknownFailure;
  }
}

}  // namespace

SysvServiceProvider::SysvServiceProvider(SysvOptions options) : options_(std::move(options)) {}

const SchemaPtr& SysvServiceProvider::schema() const {
  return win32ServiceSchema();
}

bool SysvServiceProvider::isScript(const std::string& name) const {
  if (name.find('/') != std::string::npos || name == ".." || isHelperName(name)) return false;
  if (!sys::isValidUtf8(name)) return false;
  for (char c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  struct stat st {};
  const std::string path = (options_.initDir / name).string();
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0111) != 0;
}

std::vector<std::string> SysvServiceProvider::scriptNames() const {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(options_.initDir, ec)) {
    std::string name = entry.path().filename().string();
    if (isScript(name)) names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<ManagementObject> SysvServiceProvider::build(std::vector<std::string> names,
                                                         const PropertySet& wanted) {
  const SchemaPtr& schema = win32ServiceSchema();
  unsigned sources = 0;
  for (size_t i = 0; i < schema->size(); ++i)
    if (wanted.wants(i)) sources |= columnAt(i).sources;
  std::vector<Script> scripts;
  for (std::string& name : names) {
    Script s{name, options_.initDir / name, std::nullopt, {}, false};
    if (sources & kHeader) s.header = readLsbHeader(s.path);
    scripts.push_back(std::move(s));
  }
  if (sources & kStatus) readStatuses(scripts, options_.statusTimeout);
  if (sources & kRcLinks) {
    const std::set<std::string> boot = startedAtBoot(options_.initDir);
    for (Script& s : scripts) s.autoStart = boot.count(s.name) > 0;
  }
  std::vector<ManagementObject> objects;
  for (const Script& s : scripts) {
    ManagementObject object(schema);
    for (size_t i = 0; i < schema->size(); ++i)
      if (wanted.wants(i)) object.setAt(i, columnAt(i).read(s, options_.systemName));
    objects.push_back(std::move(object));
  }
  return objects;
}

void SysvServiceProvider::enumerate(const PropertySet& wanted,
                                    const std::function<bool(ManagementObject&&)>& sink) {
  std::vector<ManagementObject> objects;
  {
    std::lock_guard lock(mutex_);
    objects = build(scriptNames(), wanted);
  }
  for (ManagementObject& object : objects)
    if (!sink(std::move(object))) break;
}

std::optional<ManagementObject> SysvServiceProvider::get(const std::string& key) {
  std::lock_guard lock(mutex_);
  if (!isScript(key)) return std::nullopt;
  return std::move(build({key}, PropertySet::all()).front());
}

int32_t SysvServiceProvider::runAction(const std::string& name, const char* action) {
  try {
    InitScriptProcess run((options_.initDir / name).string(), action);
    return returnCodeForAction(
        run.waitUntil(std::chrono::steady_clock::now() + options_.actionTimeout));
  } catch (const std::system_error& e) {
    return e.code().value() == EACCES || e.code().value() == EPERM ? serviceReturn::kAccessDenied
                                                                   : serviceReturn::kUnknownFailure;
  }
}

Value SysvServiceProvider::invoke(const std::string& key, std::string_view method) {
  using systemd::ServiceMethod;
  std::optional<ServiceMethod> known = systemd::parseServiceMethod(method);
  if (!known) return ClassProvider::invoke(key, method);
  std::lock_guard lock(mutex_);
  if (!isScript(key)) throw ComError(err::kWbemNotFound, "Not found", "Win32_Service");
  if (*known == ServiceMethod::Pause || *known == ServiceMethod::Resume)
    return Value::integer(serviceReturn::kNotSupported);
  std::vector<Script> one{Script{key, options_.initDir / key, std::nullopt, {}, false}};
  readStatuses(one, options_.statusTimeout);
  if (*known == ServiceMethod::Start) {
    if (one[0].status == kLsbRunning) return Value::integer(serviceReturn::kAlreadyRunning);
    return Value::integer(runAction(key, "start"));
  }
  if (one[0].status == kLsbStopped) return Value::integer(serviceReturn::kNotActive);
  return Value::integer(runAction(key, "stop"));
}

}  // namespace kestrava::service
