// What Kestrava shows of a booted Debian server, over ssh as the polkit-authorized account admin,
// against what the server's own tools say: systemctl, df, sysfs, ps, os-release and hostname.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "server/ServerFixture.h"
#include "service/linux/FileSystemKinds.h"
#include "service/local/MakeLocalConnection.h"

namespace kestrava::testing {
namespace {

std::string joined(const std::set<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += " " + n;
  return out;
}

// The state systemd reports, in the class's words (a stopped main process aside).
std::string stateOf(const Properties& p) {
  const std::string& freezer = p.at("FreezerState");
  if (freezer == "frozen") return "Paused";
  if (freezer == "freezing") return "Pause Pending";
  if (freezer == "thawing") return "Continue Pending";
  const std::string& active = p.at("ActiveState");
  if (active == "active" || active == "reloading") return "Running";
  if (active == "activating") return "Start Pending";
  if (active == "deactivating") return "Stop Pending";
  if (active == "inactive" || active == "failed" || active == "maintenance") return "Stopped";
  return "Unknown";
}

const char* kShowProperties =
    "Id,LoadState,ActiveState,FreezerState,MainPID,UnitFileState,Description";

class ServerViews : public BootedServer {};

// Every unit systemd knows on the server is one service, with systemd's state, main process,
// start mode and description; units that changed while we looked are left out of the compare.
TEST_F(ServerViews, ServicesAreWhatSystemctlShows) {
  auto server = connectComputer(as("admin"));
  // The units the server's tools list: loaded ones, and installed unit files that are neither
  // templates nor aliases of another unit.
  std::set<std::string> listed;
  for (const std::string& line : lines(
           onServer("systemctl list-units --all --type=service --plain --no-legend --no-pager"))) {
    std::istringstream in(line);
    std::string name, load, active;
    in >> name >> load >> active;
    if (!name.empty() && !(load == "not-found" && active == "inactive")) listed.insert(name);
  }
  for (const std::string& line :
       lines(onServer("systemctl list-unit-files --type=service --no-legend --no-pager"))) {
    std::istringstream in(line);
    std::string name, state;
    in >> name >> state;
    if (!name.empty() && !name.ends_with("@.service") && state != "alias") listed.insert(name);
  }
  const std::string show = std::string("systemctl show --no-pager -p ") + kShowProperties;
  const auto before = parseShow(onServer(show + joined(listed)));
  const auto services = byKey(
      *server, "Select Name, State, ProcessId, StartMode, Description From Win32_Service", "Name");
  const auto after = parseShow(onServer(show + joined(listed)));

  std::set<std::string> shown;
  for (const auto& [name, object] : services) shown.insert(name);
  std::set<std::string> stable;
  for (const std::string& name : listed)
    if (before.count(name) && after.count(name) && before.at(name) == after.at(name))
      stable.insert(name);
  ASSERT_GT(stable.size(), 40u) << "too few units held still to compare";
  for (const std::string& name : stable)
    EXPECT_TRUE(shown.count(name)) << name << " is on the server but not in Win32_Service";
  for (const std::string& name : shown)
    EXPECT_TRUE(listed.count(name)) << name << " is in Win32_Service but not on the server";

  for (const std::string& name : stable) {
    auto found = services.find(name);
    if (found == services.end()) continue;
    const ManagementObject& s = found->second;
    const Properties& p = before.at(name);
    SCOPED_TRACE(name);
    EXPECT_EQ(s.get("State").toText(), stateOf(p));
    EXPECT_EQ(s.get("ProcessId").toText(), p.at("MainPID"));
    EXPECT_EQ(s.get("StartMode").toText(), startModeOf(p.at("UnitFileState")));
    const Value& description = s.get("Description");
    EXPECT_EQ(description.isNull() ? "" : description.toText(), p.at("Description"));
  }
}

// The same file systems as df, where df does not list one twice, with df's sizes in bytes.
// Memory file systems and single files mounted over others are no logical disks.
TEST_F(ServerViews, LogicalDisksAreWhatDfShows) {
  auto server = connectComputer(as("admin"));
  const std::string df =
      "df -B1 --output=target,fstype,size,avail | tail -n +2; echo --; "
      "for t in $(df --output=target | tail -n +2); do [ -d \"$t\" ] || echo \"$t\"; done";
  auto parse = [](const std::string& text) {
    std::map<std::string, std::vector<std::string>> out;
    bool files = false;
    for (const std::string& line : lines(text)) {
      if (line == "--") {
        files = true;
        continue;
      }
      std::istringstream in(line);
      std::string target, type, size, avail;
      in >> target >> type >> size >> avail;
      if (files)
        out.erase(target);
      else if (!service::linuxsys::isPseudoFileSystem(type))
        out[target] = {type, size, avail};
    }
    return out;
  };
  const auto before = parse(onServer(df));
  const auto disks = byKey(
      *server, "Select DeviceID, FileSystem, Size, FreeSpace From Win32_LogicalDisk", "DeviceID");
  const auto after = parse(onServer(df));

  std::set<std::string> want, got;
  for (const auto& [target, row] : before) want.insert(target);
  for (const auto& [id, disk] : disks) got.insert(id);
  EXPECT_EQ(got, want);
  const char* volumes = std::getenv("KESTRAVA_TEST_SERVER_VOLUMES");
  ASSERT_NE(volumes, nullptr);
  std::istringstream points(volumes);
  std::string point;
  int count = 0;
  while (points >> point) {
    ++count;
    EXPECT_TRUE(got.count(point)) << "data volume " << point << " is missing";
  }
  EXPECT_GE(count, 10);
  for (const auto& [id, disk] : disks) {
    if (!before.count(id) || !after.count(id)) continue;
    SCOPED_TRACE(id);
    const auto& b = before.at(id);
    const auto& a = after.at(id);
    EXPECT_EQ(disk.get("FileSystem").toText(), b[0]);
    EXPECT_EQ(disk.get("Size").toText(), b[1]);
    // Free space may change while we look (the root lives on this machine's busy disk): then it
    // lies between the two readings.
    const uint64_t free = std::stoull(disk.get("FreeSpace").toText());
    const uint64_t lo = std::min(std::stoull(b[2]), std::stoull(a[2]));
    const uint64_t hi = std::max(std::stoull(b[2]), std::stoull(a[2]));
    EXPECT_TRUE(free >= lo && free <= hi) << free << " is not within " << lo << ".." << hi;
  }
}

// One processor with its data per processor that the server's sysfs lists; lscpu agrees.
TEST_F(ServerViews, ProcessorsAreTheOnesSysfsLists) {
  auto server = connectComputer(as("admin"));
  std::set<std::string> want;
  for (const std::string& line :
       lines(onServer("cd /sys/devices/system/cpu && ls -d cpu[0-9]* | sed s/cpu/CPU/")))
    want.insert(line);
  const std::string model =
      lines(onServer("lscpu | sed -n \"s/^Model name: *//p\" | head -1")).at(0);
  const auto processors =
      byKey(*server, "Select DeviceID, Name, Manufacturer From Win32_Processor", "DeviceID");
  std::set<std::string> got;
  for (const auto& [id, cpu] : processors) got.insert(id);
  EXPECT_EQ(got, want);
  for (const auto& [id, cpu] : processors) {
    SCOPED_TRACE(id);
    EXPECT_EQ(cpu.get("Name").toText(), model);
    EXPECT_FALSE(cpu.get("Manufacturer").isNull());
  }
}

// Every process that ps lists before and after the query, with its parent and command name.
TEST_F(ServerViews, ProcessesAreWhatPsShows) {
  auto server = connectComputer(as("admin"));
  const std::string ps = "ps -e -o pid=,ppid=,rss=,comm=";
  struct Row {
    std::string ppid, rss, comm;
    bool operator==(const Row&) const = default;
  };
  auto parse = [](const std::string& text) {
    std::map<std::string, Row> out;
    for (const std::string& line : lines(text)) {
      std::istringstream in(line);
      std::string pid;
      Row row;
      in >> pid >> row.ppid >> row.rss;
      std::getline(in >> std::ws, row.comm);
      if (!pid.empty()) out[pid] = row;
    }
    return out;
  };
  const auto before = parse(onServer(ps));
  const auto processes = byKey(
      *server, "Select Handle, ParentProcessId, Name, WorkingSetSize From Win32_Process", "Handle");
  const auto after = parse(onServer(ps));
  int compared = 0;
  for (const auto& [pid, row] : before) {
    if (!after.count(pid) || !(after.at(pid) == row)) continue;
    SCOPED_TRACE(pid + " " + row.comm);
    auto found = processes.find(pid);
    ASSERT_NE(found, processes.end()) << "a process that ps lists is missing";
    EXPECT_EQ(found->second.get("ParentProcessId").toText(), row.ppid);
    // ps shows the kernel's 15-byte name; Kestrava may give the whole executable name.
    EXPECT_TRUE(found->second.get("Name").toText().starts_with(row.comm));
    // Resident memory that held still while we looked is the same to the byte.
    EXPECT_EQ(found->second.get("WorkingSetSize").toText(),
              std::to_string(std::stoull(row.rss) * 1024));
    ++compared;
  }
  EXPECT_GE(compared, 8);
  for (const auto& [pid, object] : processes)
    EXPECT_TRUE(before.count(pid) || after.count(pid))
        << pid << " " << object.get("Name").toText() << " is not a process of the server";
}

// The operating system and the computer are the server's own, not this machine's.
TEST_F(ServerViews, SystemSheetsShowTheServersOsReleaseAndHostName) {
  auto server = connectComputer(as("admin"));
  const std::string hostname = lines(onServer("hostname")).at(0);
  const std::string pretty = lines(onServer(". /etc/os-release && echo \"$PRETTY_NAME\"")).at(0);
  const std::string kernel = lines(onServer("uname -r")).at(0);
  auto os = server->execQuery("Select Caption, CSName, Version From Win32_OperatingSystem")->next();
  ASSERT_TRUE(os.has_value());
  EXPECT_EQ(os->get("Caption").toText(), pretty);
  EXPECT_EQ(os->get("CSName").toText(), hostname);
  EXPECT_EQ(os->get("Version").toText(), kernel);
  auto cs = server->execQuery("Select Name From Win32_ComputerSystem")->next();
  ASSERT_TRUE(cs.has_value());
  EXPECT_EQ(cs->get("Name").toText(), hostname);
  EXPECT_EQ(hostname, "kestrava-server") << "the server must not answer with this machine's name";
}

// The local service pointed at the server's system bus answers for the same services as the
// agent on the server.
TEST_F(ServerViews, TheLocalServiceOnTheServersBusSeesTheAgentsServices) {
  const char* bus = std::getenv("KESTRAVA_TEST_SERVER_BUS");
  ASSERT_NE(bus, nullptr);
  auto server = connectComputer(as("root"));
  const std::string wql = "Select Name, State, StartMode From Win32_Service";
  const auto remote = byKey(*server, wql, "Name");
  std::string old =
      std::getenv("DBUS_SYSTEM_BUS_ADDRESS") ? std::getenv("DBUS_SYSTEM_BUS_ADDRESS") : "";
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bus, 1);
  auto local = service::makeLocalConnection();
  const auto here = byKey(*local, wql, "Name");
  if (old.empty())
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
  else
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", old.c_str(), 1);
  std::set<std::string> a, b;
  for (const auto& [name, object] : remote) a.insert(name);
  for (const auto& [name, object] : here) b.insert(name);
  EXPECT_EQ(a, b);
  for (const auto& [name, object] : remote) {
    if (!here.count(name) || name.starts_with("user@") || name.starts_with("user-runtime-dir@"))
      continue;
    SCOPED_TRACE(name);
    EXPECT_EQ(here.at(name).get("StartMode"), object.get("StartMode"));
  }
}

}  // namespace
}  // namespace kestrava::testing
