#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "service/linux/ComputerSystemProvider.h"
#include "service/linux/EventLogFileProvider.h"
#include "service/linux/LogicalDiskProvider.h"
#include "service/linux/OperatingSystemProvider.h"
#include "service/linux/ProcessProvider.h"
#include "service/linux/ProcessorProvider.h"
#include "service/linux/ProviderTestSupport.h"
#include "viewtable/ViewTable.h"

namespace kestrava::service::linuxsys {
namespace {

// The properties each view reads, taken from the views' own tables: a property missing from its
// class, or spelled otherwise, leaves a column or a row of the view without a value.
struct ViewClass {
  std::string className;
  std::vector<std::string> properties;
};

std::string queriedClass(const char* query) {
  const std::string q(query);
  return q.substr(q.rfind(' ') + 1);
}

ViewClass viewClass(const ListViewDef& viewDef) {
  ViewClass view{queriedClass(viewDef.query), {}};
  for (const ListColumn& column : viewDef.columns) view.properties.emplace_back(column.property);
  return view;
}

ViewClass viewClass(const SheetViewDef& viewDef) {
  return {queriedClass(viewDef.query), {viewDef.rowNames.begin(), viewDef.rowNames.end()}};
}

// Built when asked, not at start-up: the views' tables are objects of their own files. The
// services list is the service provider's to cover.
std::vector<ViewClass> views() {
  std::vector<ViewClass> all;
  for (const ViewRow& row : kViews) {
    if (row.kind == ViewKind::List) all.push_back(viewClass(row.list()));
    if (row.kind == ViewKind::Sheet) all.push_back(viewClass(row.sheet()));
  }
  return all;
}

std::unique_ptr<ClassProvider> providerFor(const std::string& className) {
  const SystemRoot root = testing::fixtureRoot(testing::fixtureDir("proc-basic"));
  if (className == "Win32_Process") return std::make_unique<ProcessProvider>(root);
  if (className == "Win32_Processor") return std::make_unique<ProcessorProvider>(root);
  if (className == "Win32_LogicalDisk") return std::make_unique<LogicalDiskProvider>(root);
  if (className == "Win32_NTEventLogFile") return std::make_unique<EventLogFileProvider>(root);
  if (className == "Win32_ComputerSystem") return std::make_unique<ComputerSystemProvider>(root);
  return std::make_unique<OperatingSystemProvider>(root);
}

TEST(ViewCoverage, EveryPropertyAViewReadsExistsWithItsSpelling) {
  const std::map<std::string, size_t> counts = {
      {"Win32_Process", 42},        {"Win32_Processor", 44},      {"Win32_LogicalDisk", 35},
      {"Win32_NTEventLogFile", 39}, {"Win32_ComputerSystem", 51}, {"Win32_OperatingSystem", 52}};
  const std::vector<ViewClass> all = views();
  ASSERT_EQ(all.size(), counts.size());
  for (const ViewClass& view : all) {
    SCOPED_TRACE(view.className);
    ASSERT_TRUE(counts.count(view.className));
    EXPECT_EQ(view.properties.size(), counts.at(view.className));
    auto provider = providerFor(view.className);
    const ClassSchema& schema = *provider->schema();
    EXPECT_EQ(schema.className(), view.className);
    const auto& names = schema.properties();
    for (const auto& p : view.properties)
      EXPECT_NE(std::find(names.begin(), names.end(), p), names.end()) << p;
    std::vector<std::string> sorted = names;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << "a name twice";
    EXPECT_TRUE(schema.indexOf(schema.keyProperty())) << schema.keyProperty();
  }
}

}  // namespace
}  // namespace kestrava::service::linuxsys
