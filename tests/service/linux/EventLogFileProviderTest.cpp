#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "service/linux/EventLogFileProvider.h"
#include "service/linux/FileAccess.h"
#include "service/linux/LogRecords.h"
#include "service/linux/LogTree.h"
#include "service/linux/ProviderTestSupport.h"
#include "service/linux/TestProcesses.h"
#include "sys/Utf8.h"

namespace kestrava::service::linuxsys {
namespace {

using testing::byKey;
using testing::enumerateAll;
using testing::fixtureDir;
using testing::fixtureRoot;

TEST(LogTreeKeys, ExtensionsAndUniqueKeys) {
  struct Ext {
    const char* path;
    const char* ext;
  } exts[] = {{"dpkg.log", "log"},
              {"apt/history.log", "log"},
              {"syslog", ""},
              {"syslog.2.gz", "gz"},
              {".hidden", ""},
              {".hidden.log", "log"},
              {"dir.d/plain", ""},
              {"trailing.", ""},
              {"x.journal~", "journal~"}};
  for (const auto& e : exts) EXPECT_EQ(logExtension(e.path), e.ext) << e.path;

  const std::vector<std::string> paths = {"a",        "a.log",  "a.log.1",  "apt/history.log",
                                          "dpkg.log", "syslog", "syslog.1", "syslog.2.gz",
                                          "x.txt",    "x.log"};
  const std::vector<std::string> want = {"a",      "a.log",    "a.log.1",  "apt/history", "dpkg",
                                         "syslog", "syslog.1", "syslog.2", "x.txt",       "x.log"};
  EXPECT_EQ(assignLogKeys(paths), want);
}

TEST(LogTreeKeys, KeysStayUniqueForAnyNames) {
  std::mt19937 rng(20240229);
  const char* parts[] = {"a", "b", ".log", ".1", ".gz", "/", ".", "log"};
  for (int round = 0; round < 300; ++round) {
    std::set<std::string> unique;
    for (int i = 0; i < 12; ++i) {
      std::string p;
      for (int k = 0, n = 1 + int(rng() % 4); k < n; ++k) p += parts[rng() % std::size(parts)];
      unique.insert(p);
    }
    std::vector<std::string> paths(unique.begin(), unique.end());
    auto keys = assignLogKeys(paths);
    std::set<std::string> seen(keys.begin(), keys.end());
    ASSERT_EQ(seen.size(), keys.size()) << "round " << round;
  }
}

TEST(LogRecordsTest, KindsCountsAndJournalHeaders) {
  EXPECT_EQ(classifyLog("syslog.2.gz", ""), LogKind::Compressed);
  EXPECT_EQ(classifyLog("journal/x/system.journal", ""), LogKind::Journal);
  EXPECT_EQ(classifyLog("btmp.1", ""), LogKind::LoginRecords);
  EXPECT_EQ(classifyLog("lastlog", std::string("\0\1", 2)), LogKind::Binary);
  EXPECT_EQ(classifyLog("kern.log", "text only\n"), LogKind::Text);
  EXPECT_EQ(compressionMethod("a.xz"), "xz");
  EXPECT_EQ(compressionMethod("a.log"), "");

  std::string header(240, '\0');
  EXPECT_FALSE(journalEntries(header)) << "no signature";
  header.replace(0, 8, "LPKSHHRH");
  header[88] = char(240);
  header[152] = 0x39;
  header[153] = 0x30;  // 12345
  EXPECT_EQ(journalEntries(header), 12345);
  EXPECT_FALSE(journalEntries(header.substr(0, 100))) << "cut short";
  header[159] = char(0x80);
  EXPECT_FALSE(journalEntries(header)) << "past int64";

  testing::TempDir tmp;
  const std::string f = tmp.path() + "/big.log";
  std::ofstream(f) << std::string(100, 'x') + "\n" + std::string(50, 'y');
  sys::UniqueFd fd = openAt(AT_FDCWD, f.c_str());
  EXPECT_EQ(countLines(fd.get(), 1000), 2) << "a file cut short since: what is there";
  EXPECT_EQ(countLines(fd.get(), 101), 1) << "only the bytes of the size it was given";
  EXPECT_EQ(countLines(fd.get(), 100), 1) << "a last line without a newline counts";
  EXPECT_FALSE(countLines(fd.get(), 1000, [] { return false; })) << "stopped part way";
}

TEST(EventLogFileProviderCounts, AnySizeCountedOnceAndOnlyTheKeyedLogRead) {
  testing::TempDir tmp;
  const std::string dir = tmp.path() + "/var/log";
  std::filesystem::create_directories(dir);
  {
    // Text past the first 4 KiB, then a hole past 64 MiB, then one more line.
    std::ofstream big(dir + "/big.log");
    for (int i = 0; i < 1000; ++i) big << "line " << i << "\n";
    big.seekp((65 << 20) + 10);
    big << "last line\n";
  }
  std::ofstream(dir + "/small.log") << "a\nb\n";
  auto root = fixtureRoot(tmp.path());
  auto counts = std::make_shared<LogCountCache>();
  EventLogFileProvider provider(root, counts);
  const auto recordsOnly = testing::only(*provider.schema(), {"LogFileName", "NumberOfRecords"});
  auto records = [&] {
    std::map<std::string, Value> out;
    for (auto& o : enumerateAll(provider, recordsOnly))
      out[o.get("LogFileName").asText()] = o.get("NumberOfRecords");
    return out;
  };
  EXPECT_EQ(records(), (std::map<std::string, Value>{{"big", Value::integer(1001)},
                                                     {"small", Value::integer(2)}}));

  // Same device, inode, size and modification time: the count is not read again.
  struct stat before {};
  ASSERT_EQ(::stat((dir + "/small.log").c_str(), &before), 0);
  std::ofstream(dir + "/small.log", std::ios::in | std::ios::out) << "abc\n";
  const struct timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, (dir + "/small.log").c_str(), times, 0), 0);
  EXPECT_EQ(records().at("small"), Value::integer(2));
  std::ofstream(dir + "/small.log", std::ios::app) << "\nx";
  EXPECT_EQ(records().at("small"), Value::integer(3)) << "a grown log is counted again";

  // A key filter reads one log; get finds its key exactly.
  auto fresh = std::make_shared<LogCountCache>();
  EventLogFileProvider keyed(root, fresh);
  std::vector<ManagementObject> found;
  keyed.enumerateKey("SMALL", recordsOnly, [&](ManagementObject&& o) {
    found.push_back(std::move(o));
    return true;
  });
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].get("NumberOfRecords"), Value::integer(3));
  EXPECT_EQ(fresh->size(), 1u) << "the other log was counted too";
  EXPECT_TRUE(keyed.get("small"));
  EXPECT_FALSE(keyed.get("SMALL"));
}

TEST(EventLogFileProviderFixture, EveryLogOfTheTree) {
  EventLogFileProvider provider(fixtureRoot(fixtureDir("logs-tree")));
  auto logs = byKey(enumerateAll(provider), "LogFileName");
  const std::string base = fixtureDir("logs-tree") + "/var/log/";
  struct Case {
    const char* key;
    const char* rel;
    Value records;
    const char* type;
    const char* ext;
  } cases[] = {
      {".hidden", ".hidden.log", Value::integer(1), "Text log", "log"},
      {"a", "a", Value::integer(1), "Text log", ""},
      {"a.log", "a.log", Value::integer(1), "Text log", "log"},
      {"a.log.1", "a.log.1", Value::integer(1), "Text log", "1"},
      {"apt/history", "apt/history.log", Value::integer(2), "Text log", "log"},
      {"apt/term", "apt/term.log", Value::integer(1), "Text log", "log"},
      {"dpkg", "dpkg.log", Value::integer(5), "Text log", "log"},
      {"empty", "empty.log", Value::integer(0), "Text log", "log"},
      {"journal/0123456789abcdef0123456789abcdef/system",
       "journal/0123456789abcdef0123456789abcdef/system.journal", Value::integer(1234), "Journal",
       "journal"},
      {"journal/0123456789abcdef0123456789abcdef/user-1000@0001-0002",
       "journal/0123456789abcdef0123456789abcdef/user-1000@0001-0002.journal~", Value::integer(7),
       "Journal", "journal~"},
      {"lastlog", "lastlog", Value::null(), "Binary log", ""},
      {"my logs/app", "my logs/app.log", Value::integer(2), "Text log", "log"},
      {"syslog", "syslog", Value::integer(3), "Text log", ""},
      {"syslog.1", "syslog.1", Value::integer(2), "Text log", "1"},
      {"syslog.2", "syslog.2.gz", Value::null(), "Compressed log", "gz"},
      {"wtmp", "wtmp", Value::integer(2), "Login records", ""},
  };
  ASSERT_EQ(logs.size(), std::size(cases)) << "README is a symbolic link, not a log";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    auto it = logs.find(c.key);
    ASSERT_NE(it, logs.end());
    const ManagementObject& o = it->second;
    const std::string path = base + c.rel;
    EXPECT_EQ(o.get("Name"), Value::text(path));
    EXPECT_EQ(o.get("Caption"), Value::text(path));
    EXPECT_EQ(o.get("NumberOfRecords"), c.records);
    EXPECT_EQ(o.get("FileType"), Value::text(c.type));
    EXPECT_EQ(o.get("Extension"), Value::text(c.ext));
    EXPECT_EQ(o.get("FileSize"), Value::text(std::to_string(std::filesystem::file_size(path))));
    EXPECT_EQ(o.get("Path"), Value::text(path.substr(0, path.rfind('/') + 1)));
    EXPECT_EQ(o.get("Readable"), Value::boolean(true));
    EXPECT_EQ(o.get("Hidden"), Value::boolean(std::string(c.key) == ".hidden"));
    EXPECT_EQ(o.get("CSName"), Value::text("fixturehost"));
    EXPECT_EQ(o.get("LastModified").asText().size(), 25u);
  }
  const ManagementObject& gz = logs.at("syslog.2");
  EXPECT_EQ(gz.get("Compressed"), Value::boolean(true));
  EXPECT_EQ(gz.get("CompressionMethod"), Value::text("gzip"));
  EXPECT_EQ(gz.get("FileName"), Value::text("syslog.2"));
  EXPECT_EQ(logs.at("dpkg").get("FileName"), Value::text("dpkg"));
  EXPECT_TRUE(logs.at("dpkg").get("CompressionMethod").isNull());
  for (const char* p : {"AccessMask", "Archive", "Sources", "MaxFileSize", "OverWritePolicy"})
    EXPECT_TRUE(logs.at("dpkg").get(p).isNull()) << p;
}

// Makes a directory tree that user nobody can walk into.
void openUp(const std::string& dir) {
  ::chmod(dir.c_str(), 0755);
}

TEST(EventLogFileProviderFixture, LogsTheUserMayNotReadKeepTheirRowWithNullCounts) {
  testing::TempDir tmp("/tmp");  // nobody must be able to walk to it
  openUp(tmp.path());
  const std::string logDir = tmp.path() + "/var/log";
  std::filesystem::create_directories(logDir + "/private");
  openUp(tmp.path() + "/var");
  openUp(logDir);
  std::ofstream(logDir + "/secure.log") << "one\ntwo\n";
  std::ofstream(logDir + "/open.log") << "one\ntwo\nthree\n";
  std::ofstream(logDir + "/private/inner.log") << "x\n";
  std::ofstream(logDir +
                "/bad\xff"
                "name.log")
      << "x\n";
  ::chmod((logDir + "/secure.log").c_str(), 0640);
  ::chmod((logDir + "/open.log").c_str(), 0644);
  ::chmod((logDir + "/bad\xff"
                    "name.log")
              .c_str(),
          0644);
  ::chmod((logDir + "/private").c_str(), 0700);

  int code = testing::runUnprivileged([&] {
    EventLogFileProvider provider(fixtureRoot(tmp.path()));
    auto logs = byKey(enumerateAll(provider), "LogFileName");
    const bool root = ::geteuid() == 0;
    if (logs.count("private/inner") != (root ? 1u : 0u)) return 10;
    const ManagementObject& secure = logs.at("secure");
    if (!root && !secure.get("NumberOfRecords").isNull()) return 11;
    if (!root && secure.get("Readable") != Value::boolean(false)) return 12;
    if (secure.get("FileSize") != Value::text("8")) return 13;
    if (logs.at("open").get("NumberOfRecords") != Value::integer(3)) return 14;
    auto bad = logs.find("bad\xEF\xBF\xBDname");
    if (bad == logs.end()) return 15;
    if (!sys::isValidUtf8(bad->second.get("Name").asText())) return 16;
    return 0;
  });
  EXPECT_EQ(code, 0);
}

TEST(EventLogFileProviderFixture, MissingLogDirectoryGivesNoLogs) {
  EventLogFileProvider provider(fixtureRoot(fixtureDir("proc-basic")));
  EXPECT_TRUE(enumerateAll(provider).empty());
}

TEST(EventLogFileProviderLive, TheLogsOfVarLog) {
  EventLogFileProvider provider(SystemRoot::live());
  auto logs = enumerateAll(provider);
  std::set<std::string> keys;
  for (const auto& o : logs) {
    const std::string name = o.get("Name").asText();
    SCOPED_TRACE(name);
    EXPECT_TRUE(keys.insert(o.get("LogFileName").asText()).second) << "keys are unique";
    EXPECT_TRUE(name.starts_with("/var/log/"));
    EXPECT_FALSE(o.get("FileSize").isNull());
    EXPECT_FALSE(o.get("Drive").isNull()) << "every file lies on a mounted file system";
  }
  const std::string dpkg = "/var/log/dpkg.log";
  if (std::filesystem::is_regular_file(dpkg)) {
    auto text = readFile(dpkg, 64 << 20);
    ASSERT_TRUE(text);
    int64_t lines = std::count(text->begin(), text->end(), '\n') +
                    (!text->empty() && text->back() != '\n' ? 1 : 0);
    auto it = std::find_if(logs.begin(), logs.end(), [](const auto& o) {
      return o.get("LogFileName") == Value::text("dpkg");
    });
    ASSERT_NE(it, logs.end());
    EXPECT_EQ(it->get("NumberOfRecords"), Value::integer(lines));
  }
}

}  // namespace
}  // namespace kestrava::service::linuxsys
