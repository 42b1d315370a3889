#pragma once

#include <sys/utsname.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "core/ManagementObject.h"
#include "service/ClassProvider.h"
#include "service/linux/SystemRoot.h"

namespace kestrava::testing {

// The recorded tree tests/service/linux/fixtures/<name>.
inline std::string fixtureDir(const std::string& name) {
  return std::string(KESTRAVA_SOURCE_DIR) + "/tests/service/linux/fixtures/" + name;
}

// A fixture root with a fixed uname answer, so host names and versions are known.
inline service::linuxsys::SystemRoot fixtureRoot(const std::string& dir) {
  auto root = service::linuxsys::SystemRoot::under(dir);
  root.uname = [](struct utsname* u) {
    std::memset(u, 0, sizeof *u);
    std::strcpy(u->sysname, "Linux");
    std::strcpy(u->nodename, "fixturehost");
    std::strcpy(u->release, "6.1.0-fixture");
    std::strcpy(u->version, "#7 SMP PREEMPT_DYNAMIC Fixture 6.1.0");
    std::strcpy(u->machine, "x86_64");
    return 0;
  };
  return root;
}

// Every instance the provider delivers, in its order.
inline std::vector<ManagementObject> enumerateAll(
    service::ClassProvider& p, const service::PropertySet& wanted = service::PropertySet::all()) {
  std::vector<ManagementObject> out;
  p.enumerate(wanted, [&](ManagementObject&& o) {
    out.push_back(std::move(o));
    return true;
  });
  return out;
}

// Instances keyed by the text of one property.
inline std::map<std::string, ManagementObject> byKey(std::vector<ManagementObject> objects,
                                                     const std::string& property) {
  std::map<std::string, ManagementObject> out;
  for (auto& o : objects) {
    std::string k = o.get(property).asText();
    out.emplace(std::move(k), std::move(o));
  }
  return out;
}

// A PropertySet that wants only the named properties of a schema.
inline service::PropertySet only(const ClassSchema& schema, const std::vector<std::string>& names) {
  std::vector<bool> wanted(schema.size(), false);
  for (const auto& n : names) wanted.at(*schema.indexOf(n)) = true;
  return service::PropertySet(std::move(wanted));
}

// A scratch directory removed with everything in it when it goes out of scope.
class TempDir {
 public:
  // Below base, or below the temporary directory of the environment.
  explicit TempDir(const std::string& base = {}) {
    const std::filesystem::path dir =
        base.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(base);
    std::string tmpl = (dir / "kestrava-linux-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data()) ? tmpl : std::string();
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Copies a fixture tree into dir, symbolic links kept as links.
inline void copyFixture(const std::string& fixture, const std::string& dir) {
  std::filesystem::copy(
      fixtureDir(fixture), dir,
      std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks);
}

}  // namespace kestrava::testing
