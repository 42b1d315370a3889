#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>

#include "service/Providers.h"
#include "service/systemd/ServiceSchema.h"

namespace kestrava::service {
namespace {

// Standard output of a shell command, or nullopt when it failed.
std::optional<std::string> outputOf(const std::string& command) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return std::nullopt;
  std::string out;
  std::array<char, 4096> buffer{};
  for (size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;)
    out.append(buffer.data(), n);
  const int status = ::pclose(pipe);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return out;
}

class ClassesPage : public ::testing::Test {
 protected:
  void SetUp() override {
    auto out = outputOf("timeout 60 " KESTRAVA_CLASSES_PAGE_PROGRAM);
    ASSERT_TRUE(out) << "kestrava-classes-page failed";
    page_ = *out;
  }
  // The entry of one property: its line and the source line below it.
  std::string entry(const std::string& property) const {
    const std::string head = ".TP\n\\fB" + property + "\\fR \\(em ";
    const size_t at = page_.find(head);
    if (at == std::string::npos) return "";
    const size_t end = page_.find('\n', page_.find('\n', at + head.size()) + 1);
    return page_.substr(at + head.size(), end - at - head.size());
  }
  std::string page_;
};

TEST_F(ClassesPage, EveryClassWithItsKeyAndEveryPropertyInSchemaOrder) {
  std::vector<SchemaPtr> schemas;
  for (const auto& provider : makeLinuxProviders()) schemas.push_back(provider->schema());
  schemas.push_back(win32ServiceSchema());
  ASSERT_EQ(schemas.size(), 7u);
  for (const SchemaPtr& schema : schemas) {
    const size_t at =
        page_.find(".SS " + schema->className() + "\nKey: \\fB" + schema->keyProperty() + "\\fR.");
    ASSERT_NE(at, std::string::npos) << schema->className();
    size_t from = at;
    for (const std::string& property : schema->properties()) {
      const size_t next = page_.find("\n\\fB" + property + "\\fR \\(em ", from);
      ASSERT_NE(next, std::string::npos) << schema->className() << "." << property;
      from = next;
    }
    EXPECT_LT(from, page_.find(".SS ", at + 1)) << schema->className() << " runs into the next";
  }
}

TEST_F(ClassesPage, TypesUnitsAndSourcesAsTheProvidersDeliverThem) {
  const std::pair<const char*, const char*> cases[] = {
      {"WorkingSetSize", "uint64, bytes\n\\fBVmRSS\\fR of"},
      {"PeakWorkingSetSize", "integer, kilobytes\n\\fBVmHWM\\fR"},
      {"LogFileName", "string, key\n"},
      {"KernelModeTime", "uint64, 100 nanoseconds\n"},
      {"ExitCode", "integer\n\\fBExecMainStatus\\fR"},
      {"WaitHint", "integer, milliseconds\n"},
      {"InstallDate", "null\n"},
  };
  for (const auto& [property, expected] : cases)
    EXPECT_EQ(entry(property).rfind(expected, 0), 0u) << property << ": " << entry(property);
  EXPECT_NE(entry("Architecture").find("x86_64 \\(-> 9"), std::string::npos)
      << "signs and dashes are groff's own: " << entry("Architecture");
}

TEST_F(ClassesPage, RendersWithoutWarnings) {
  const std::string file = ::testing::TempDir() + "kestrava-classes.7";
  std::ofstream(file) << page_;
  auto warnings = outputOf("MANWIDTH=80 man --warnings -l '" + file + "' 2>&1 >/dev/null");
  ASSERT_TRUE(warnings);
  EXPECT_EQ(*warnings, "");
  auto name = outputOf("lexgrog '" + file + "'");
  ASSERT_TRUE(name);
  EXPECT_NE(name->find("kestrava-classes - "), std::string::npos) << *name;
}

}  // namespace
}  // namespace kestrava::service
