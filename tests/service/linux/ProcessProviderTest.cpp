#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <set>

#include "service/linux/CimDateTime.h"
#include "service/linux/FileAccess.h"
#include "service/linux/ProcessProvider.h"
#include "service/linux/ProcessRecord.h"
#include "service/linux/ProviderTestSupport.h"
#include "service/linux/TestProcesses.h"
#include "sys/Utf8.h"

namespace kestrava::service::linuxsys {
namespace {

using testing::byKey;
using testing::enumerateAll;
using testing::fixtureRoot;
using testing::startProgram;
using testing::waitForComm;

// Fixture times are written for UTC; the zone is restored after each test.
class UtcZone {
 public:
  UtcZone() {
    if (const char* tz = std::getenv("TZ")) saved_ = tz;
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }
  ~UtcZone() {
    if (saved_)
      ::setenv("TZ", saved_->c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }

 private:
  std::optional<std::string> saved_;
};

bool allTextIsValidUtf8(const ManagementObject& o) {
  for (const Value& v : o.values())
    if (v.kind() == Value::Kind::Text && !sys::isValidUtf8(v.asText())) return false;
  return true;
}

TEST(ProcessProviderFixture, EveryPropertyFromRecordedFiles) {
  UtcZone utc;
  ProcessProvider provider(fixtureRoot(testing::fixtureDir("proc-basic")));
  auto all = byKey(enumerateAll(provider), "Handle");
  ASSERT_EQ(all.size(), 3u) << "pid 999 has no stat: it exited and is left out";

  const ManagementObject& p = all.at("4242");
  struct Expect {
    const char* property;
    Value value;
  } expects[] = {
      {"Name", Value::text("my prog (x)")},
      {"Caption", Value::text("my prog (x)")},
      {"Description", Value::text("my prog (x)")},
      {"CommandLine", Value::text("./my prog (x) --flag two words")},
      {"CreationClassName", Value::text("Win32_Process")},
      {"CreationDate", Value::text("20231114221523.450000+000")},
      {"CSName", Value::text("fixturehost")},
      {"ExecutablePath", Value::text("/opt/app/my prog (x)")},
      {"Handle", Value::text("4242")},
      {"HandleCount", Value::integer(3)},
      {"KernelModeTime", Value::text("13000000")},
      {"UserModeTime", Value::text("25000000")},
      {"OSName", Value::text("Fixture Linux 1.0")},
      {"PageFaults", Value::integer(1507)},
      {"PageFileUsage", Value::integer(16)},
      {"ParentProcessID", Value::integer(1)},
      {"PeakVirtualSize", Value::text("9404416")},
      {"PeakWorkingSetSize", Value::integer(1920)},
      {"Priority", Value::integer(20)},
      {"PrivatePageCount", Value::text("90112")},
      {"ProcessID", Value::integer(4242)},
      {"ReadOperationCount", Value::text("10")},
      {"ReadTransferCount", Value::text("6976")},
      {"SessionID", Value::integer(4242)},
      {"ThreadCount", Value::integer(3)},
      {"VirtualSize", Value::text("8380416")},
      {"WindowsVersion", Value::text("6.1.0-fixture")},
      {"WorkingSetSize", Value::text("942080")},
      {"WriteOperationCount", Value::text("4")},
      {"WriteTransferCount", Value::text("5000000000")},
      {"InstallDate", Value::null()},
      {"MaximumWorkingSetSize", Value::null()},
      {"OtherOperationCount", Value::null()},
      {"PeakPageFileUsage", Value::null()},
      {"QuotaPagedPoolUsage", Value::null()},
      {"Status", Value::null()},
      {"TerminationDate", Value::null()},
  };
  for (const auto& e : expects) EXPECT_EQ(p.get(e.property), e.value) << e.property;
}

TEST(ProcessProviderFixture, MissingSourcesGiveNullNotFailure) {
  ProcessProvider provider(fixtureRoot(testing::fixtureDir("proc-basic")));
  auto all = byKey(enumerateAll(provider), "Handle");
  const ManagementObject& init = all.at("1");  // io unreadable
  EXPECT_EQ(init.get("Name"), Value::text("systemd"));
  EXPECT_TRUE(init.get("ReadTransferCount").isNull());
  EXPECT_TRUE(init.get("WriteOperationCount").isNull());
  EXPECT_EQ(init.get("HandleCount"), Value::integer(4));
  EXPECT_EQ(init.get("CommandLine"), Value::text("/sbin/init splash"));

  const ManagementObject& kthread = all.at("77");  // no exe, no cmdline, no memory lines
  EXPECT_EQ(kthread.get("Name"), Value::text("kworker/0:1-events"));
  EXPECT_TRUE(kthread.get("ExecutablePath").isNull());
  EXPECT_TRUE(kthread.get("CommandLine").isNull());
  EXPECT_TRUE(kthread.get("PeakVirtualSize").isNull());
  EXPECT_TRUE(kthread.get("HandleCount").isNull());
  EXPECT_EQ(kthread.get("ReadTransferCount"), Value::text("0"));
  EXPECT_EQ(kthread.get("ParentProcessID"), Value::integer(2));
}

// Names of the files below dir opened while fn runs, as inotify reports them.
std::multiset<std::string> filesOpened(const std::string& dir, const std::function<void()>& fn) {
  sys::UniqueFd in(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (!in || ::inotify_add_watch(in.get(), dir.c_str(), IN_OPEN) < 0) return {"<no inotify>"};
  fn();
  std::multiset<std::string> names;
  alignas(inotify_event) char buf[8192];
  for (ssize_t n; (n = ::read(in.get(), buf, sizeof buf)) > 0;) {
    for (char* p = buf; p < buf + n;) {
      auto* ev = reinterpret_cast<inotify_event*>(p);
      names.insert(ev->len ? ev->name : ".");
      p += sizeof(inotify_event) + ev->len;
    }
  }
  return names;
}

TEST(ProcessProviderFixture, ReadsOnlyTheFilesTheWantedPropertiesNeed) {
  testing::TempDir tmp;
  testing::copyFixture("proc-basic", tmp.path());
  ProcessProvider provider(fixtureRoot(tmp.path()));
  const std::string dir = tmp.path() + "/proc/4242";

  auto nameOnly = filesOpened(dir, [&] {
    auto objects = enumerateAll(provider, testing::only(*provider.schema(), {"Name"}));
    ASSERT_EQ(objects.size(), 3u);
    EXPECT_TRUE(objects[0].get("HandleCount").isEmpty());
  });
  EXPECT_EQ(nameOnly, (std::multiset<std::string>{"stat"}));

  auto handleOnly = filesOpened(dir, [&] {
    enumerateAll(provider, testing::only(*provider.schema(), {"Handle", "ProcessID"}));
  });
  EXPECT_TRUE(handleOnly.empty());

  auto everything = filesOpened(dir, [&] { enumerateAll(provider); });
  for (const char* f : {"stat", "status", "io", "cmdline", "fd"})
    EXPECT_EQ(everything.count(f), 1u) << f << " is read once for all properties";
}

TEST(ProcessProviderFixture, UnreadableIoGivesNullForThatProcessOnly) {
  testing::TempDir tmp;
  testing::copyFixture("proc-basic", tmp.path());
  // A directory where the file should be: open succeeds, read fails (EISDIR), even for root.
  std::filesystem::remove(tmp.path() + "/proc/4242/io");
  std::filesystem::create_directory(tmp.path() + "/proc/4242/io");
  ProcessProvider provider(fixtureRoot(tmp.path()));
  auto all = byKey(enumerateAll(provider), "Handle");
  ASSERT_EQ(all.size(), 3u);
  EXPECT_TRUE(all.at("4242").get("ReadTransferCount").isNull());
  EXPECT_EQ(all.at("4242").get("ThreadCount"), Value::integer(3));
  EXPECT_EQ(all.at("77").get("ReadTransferCount"), Value::text("0"));
}

TEST(ProcessProviderFixture, GetReadsOneProcessAndRefusesKeysThatAreNotPids) {
  ProcessProvider provider(fixtureRoot(testing::fixtureDir("proc-basic")));
  auto p = provider.get("4242");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->get("Name"), Value::text("my prog (x)"));
  EXPECT_EQ(p->path(), "Win32_Process='4242'");
  EXPECT_TRUE(provider.exists("4242"));
  auto keyed = [&](const char* key) {
    std::vector<std::string> names;
    provider.enumerateKey(key, testing::only(*provider.schema(), {"Name"}),
                          [&](ManagementObject&& o) {
                            names.push_back(o.get("Name").asText());
                            return true;
                          });
    return names;
  };
  EXPECT_EQ(keyed("4242"), std::vector<std::string>{"my prog (x)"});
  for (const char* key : {"999", "5", "", "abc", "1/../4242", "../proc/4242", "04242", "-1",
                          "4242 ", "99999999999", "sys"}) {
    EXPECT_FALSE(provider.get(key)) << '"' << key << '"';
    EXPECT_FALSE(provider.exists(key)) << '"' << key << '"';
    EXPECT_TRUE(keyed(key).empty()) << '"' << key << '"';
  }
}

TEST(ProcessProviderLive, SpawnedProcessesAppearWithTheirRealFacts) {
  const std::string sleepPath = std::filesystem::canonical("/bin/sleep").string();
  const auto before = std::chrono::system_clock::now();
  std::vector<sys::ChildProcess> children;
  for (int i = 0; i < 3; ++i) children.push_back(startProgram("/bin/sleep", {"sleep", "600"}));
  for (auto& c : children) ASSERT_TRUE(waitForComm(c.pid(), "sleep"));
  const auto after = std::chrono::system_clock::now();
  auto secs = [](auto t) { return std::chrono::system_clock::to_time_t(t); };
  const std::string earliest = cimLocalDateTime(secs(before) - 2);
  const std::string latest = cimLocalDateTime(secs(after) + 2);

  ProcessProvider provider(SystemRoot::live());
  auto all = byKey(enumerateAll(provider), "Handle");
  EXPECT_TRUE(all.count(std::to_string(::getpid())));
  for (auto& c : children) {
    SCOPED_TRACE(c.pid());
    auto it = all.find(std::to_string(c.pid()));
    ASSERT_NE(it, all.end());
    const ManagementObject& o = it->second;
    EXPECT_EQ(o.get("ProcessID"), Value::integer(c.pid()));
    EXPECT_EQ(o.get("ParentProcessID"), Value::integer(::getpid()));
    EXPECT_EQ(o.get("Name"), Value::text("sleep"));
    EXPECT_EQ(o.get("ExecutablePath"), Value::text(sleepPath));
    EXPECT_EQ(o.get("CommandLine"), Value::text("sleep 600"));
    EXPECT_EQ(o.get("ThreadCount"), Value::integer(1));
    const std::string created = o.get("CreationDate").asText();
    EXPECT_GE(created, earliest);
    EXPECT_LE(created, latest);
    EXPECT_GE(o.get("HandleCount").asInteger(), 3);
    EXPECT_NE(o.get("WorkingSetSize").asText(), "0");
  }
}

TEST(ProcessProviderLive, NamesWithInvalidUtf8SpacesAndNewlinesComeThrough) {
  struct Case {
    std::string comm, name;
  } cases[] = {
      {"bad\xff\xfename", "bad\xEF\xBF\xBD\xEF\xBF\xBDname"},
      {"two words\nline", "two words\nline"},
      {"(x) y)", "(x) y)"},
  };
  ProcessProvider provider(SystemRoot::live());
  testing::TempDir tmp;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // The kernel names a process after the file it was started from, a link's own name too.
    const std::string link = tmp.path() + "/" + c.comm;
    std::filesystem::create_symlink("/bin/sleep", link);
    auto child = startProgram(link, {"sleep", "600"});
    ASSERT_TRUE(waitForComm(child.pid(), c.comm));
    auto all = byKey(enumerateAll(provider), "Handle");
    auto it = all.find(std::to_string(child.pid()));
    ASSERT_NE(it, all.end());
    EXPECT_EQ(it->second.get("Name"), Value::text(c.name));
    EXPECT_EQ(it->second.get("ParentProcessID"), Value::integer(::getpid()));
    for (const auto& [key, o] : all) EXPECT_TRUE(allTextIsValidUtf8(o)) << key;
  }
}

TEST(ProcessProviderLive, NameCutByTheKernelIsCompletedFromTheExecutable) {
  testing::TempDir tmp;
  const std::string longName = tmp.path() + "/kestrava-long-name-sleeper";
  std::filesystem::copy_file("/bin/sleep", longName);
  std::filesystem::permissions(longName, std::filesystem::perms::owner_all);
  auto child = startProgram(longName, {"sleeper", "600"});
  ASSERT_TRUE(waitForComm(child.pid(), "kestrava-long-n"));
  ProcessProvider provider(SystemRoot::live());
  auto p = provider.get(std::to_string(child.pid()));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->get("Name"), Value::text("kestrava-long-name-sleeper"));
  EXPECT_EQ(p->get("ExecutablePath"), Value::text(longName));
}

TEST(ProcessProviderLive, ProcessesKilledDuringEnumerationDoNotFailIt) {
  std::vector<sys::ChildProcess> children;
  for (int i = 0; i < 20; ++i) children.push_back(startProgram("/bin/sleep", {"sleep", "600"}));
  for (auto& c : children) ASSERT_TRUE(waitForComm(c.pid(), "sleep"));
  std::set<std::string> killed;
  for (auto& c : children) killed.insert(std::to_string(c.pid()));

  ProcessProvider provider(SystemRoot::live());
  bool killedAll = false;
  std::set<std::string> seenAfterKill;
  size_t delivered = 0;
  ASSERT_NO_THROW(provider.enumerate(PropertySet::all(), [&](ManagementObject&& o) {
    ++delivered;
    if (killedAll) seenAfterKill.insert(o.get("Handle").asText());
    if (!killedAll) {
      for (auto& c : children) c.kill();
      killedAll = true;
    }
    EXPECT_FALSE(o.get("Name").isNull());
    return true;
  }));
  EXPECT_TRUE(killedAll);
  EXPECT_GT(delivered, 1u);
  for (const auto& pid : killed) EXPECT_EQ(seenAfterKill.count(pid), 0u) << pid << " was reaped";
}

TEST(ProcessProviderLive, RecordOfAProcessThatExitsAfterItsDirectoryOpened) {
  auto child = startProgram("/bin/sleep", {"sleep", "600"});
  ASSERT_TRUE(waitForComm(child.pid(), "sleep"));
  sys::UniqueFd proc = openAt(AT_FDCWD, "/proc", O_DIRECTORY);
  const std::string pid = std::to_string(child.pid());
  sys::UniqueFd dir = openProcessDir(proc.get(), pid.c_str());
  ASSERT_TRUE(dir);
  const SystemRoot root = SystemRoot::live();
  ProcessContext context(root);
  ProcessRecord record(context, proc.get(), child.pid(), std::move(dir));
  child.kill();
  EXPECT_EQ(record.stat(), nullptr);
  EXPECT_TRUE(record.vanished());
  EXPECT_EQ(record.io(), nullptr);
  EXPECT_EQ(record.status(), nullptr);
  EXPECT_FALSE(record.handleCount());
  EXPECT_FALSE(ProcessProvider(root).get(pid));
  EXPECT_FALSE(ProcessProvider(root).exists(pid));
}

TEST(ProcessProviderLive, AnotherUsersUnreadableFilesGiveNull) {
  // As nobody, PID 1's io and exe belong to another user: null, and the query still succeeds.
  int code = testing::runUnprivileged([] {
    ProcessProvider provider(SystemRoot::live());
    auto all = byKey(enumerateAll(provider), "Handle");
    auto it = all.find("1");
    if (it == all.end()) return 10;
    if (it->second.get("Name").isNull()) return 11;
    if (::geteuid() != 0 && !it->second.get("ReadTransferCount").isNull()) return 12;
    if (::geteuid() != 0 && !it->second.get("ExecutablePath").isNull()) return 13;
    return all.count(std::to_string(::getpid())) ? 0 : 14;
  });
  EXPECT_EQ(code, 0);
}

}  // namespace
}  // namespace kestrava::service::linuxsys
