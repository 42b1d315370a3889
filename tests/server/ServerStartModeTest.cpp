// The unit file listing that a later connection takes over from an earlier one: against the
// booted server's real systemd, each connection's StartMode must be the manager's, whatever was
// enabled, disabled, masked or dropped in by hand between them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "server/ServerFixture.h"
#include "service/local/MakeLocalConnection.h"
#include "service/systemd/UnitFileCache.h"

namespace kestrava::testing {
namespace {

class ServerStartMode : public BootedServer {
 protected:
  void SetUp() override {
    BootedServer::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    const char* old = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    if (old) saved_ = old;
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", std::getenv("KESTRAVA_TEST_SERVER_BUS"), 1);
  }
  void TearDown() override {
    if (host_.empty()) return;
    if (saved_.empty())
      ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    else
      ::setenv("DBUS_SYSTEM_BUS_ADDRESS", saved_.c_str(), 1);
    onServer(
        "rm -f /etc/systemd/system/kestrava-dropped.service "
        "/etc/systemd/system/multi-user.target.wants/kestrava-dropped.service; "
        "systemctl unmask systemd-networkd.service; systemctl enable cron.service; true");
  }

  // Unit name -> StartMode as a new local connection to the server's bus gives it.
  static std::map<std::string, std::string> kestravaModes() {
    auto connection = service::makeLocalConnection();
    std::map<std::string, std::string> modes;
    for (auto& [name, s] : byKey(*connection, "Select Name, StartMode From Win32_Service", "Name"))
      modes[name] = s.get("StartMode").toText();
    return modes;
  }

  // The same from systemd on the server, for every unit with a file: the state a loaded unit
  // reports (systemd keeps it until a reload), else the one worked out from the files now.
  std::map<std::string, std::string> managerModes() {
    std::string names;
    for (const std::string& line :
         lines(onServer("systemctl list-unit-files --type=service --no-legend --no-pager"))) {
      std::istringstream in(line);
      std::string name, state;
      in >> name >> state;
      if (!name.empty() && !name.ends_with("@.service") && state != "alias") names += " " + name;
    }
    std::map<std::string, std::string> modes;
    for (const auto& [name, p] : parseShow(onServer("systemctl show -p Id,UnitFileState" + names)))
      modes[name] = startModeOf(p.at("UnitFileState"));
    return modes;
  }

  void expectManagersModes(const std::string& after) {
    SCOPED_TRACE(after);
    const auto truth = managerModes();
    const auto shown = kestravaModes();
    ASSERT_GT(truth.size(), 50u);
    for (const auto& [name, mode] : truth) {
      auto it = shown.find(name);
      if (it == shown.end()) {
        ADD_FAILURE() << name << " is missing";
        continue;
      }
      EXPECT_EQ(it->second, mode) << name;
    }
  }

  std::string saved_;
};

TEST_F(ServerStartMode, EachNewConnectionShowsTheManagersStartModes) {
  auto& cache = service::systemd::UnitFileCache::shared();
  expectManagersModes("the first connection");
  const uint64_t hits = cache.hits();
  expectManagersModes("nothing changed");
  EXPECT_GT(cache.hits(), hits) << "a connection with nothing changed read the listing anew";

  onServer("systemctl disable cron.service");
  expectManagersModes("cron disabled with systemctl");
  onServer(
      "ln -s /lib/systemd/system/cron.service "
      "/etc/systemd/system/multi-user.target.wants/cron.service");
  expectManagersModes("cron enabled by hand, no reload");
  onServer("systemctl mask systemd-networkd.service");
  expectManagersModes("systemd-networkd masked");
  onServer(
      "printf \"[Service]\\nExecStart=/bin/true\\n[Install]\\nWantedBy=multi-user.target\\n\" "
      ">/etc/systemd/system/kestrava-dropped.service");
  expectManagersModes("a unit file dropped in by hand");
  onServer(
      "ln -s /etc/systemd/system/kestrava-dropped.service "
      "/etc/systemd/system/multi-user.target.wants/kestrava-dropped.service");
  expectManagersModes("the dropped unit enabled by hand");
  const uint64_t before = cache.hits();
  expectManagersModes("nothing changed again");
  EXPECT_GT(cache.hits(), before);
}

}  // namespace
}  // namespace kestrava::testing
