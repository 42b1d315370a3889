#include <QLocale>
#include <algorithm>

#include "views/ViewTest.h"
#include "views/services/frmServices.h"

namespace kestrava::testing {
namespace {

// One object of a view's class, keyed (and, for processes, named) by `key`.
void addRow(ScriptedService& service, const ListViewSpec& viewSpec, const std::string& key,
            Properties more = {}) {
  more.emplace_back(viewSpec.keyProperty, Value::text(key));
  more.emplace_back(viewSpec.textProperty, Value::text(key));
  service.addObject(queriedClass(viewSpec.query), more);
}

using InstanceListTest = ViewTest;

TEST_F(InstanceListTest, EveryListRefillsFromItsOwnClassAndIsShown) {
  for (const ListViewSpec* viewSpec : listSpecs()) {
    addRow(app.local, *viewSpec, "first");
    addRow(app.local, *viewSpec, "second");
  }
  connect();
  for (const ListViewSpec* viewSpec : listSpecs()) {
    ListViewWindow* view = listView(viewSpec->windowName);
    EXPECT_EQ(columnOf(*view->list(), 0), (std::vector<std::string>{"first", "second"}))
        << viewSpec->windowName;
    EXPECT_TRUE(view->subWindow()->isVisible()) << viewSpec->windowName;
  }
}

TEST_F(InstanceListTest, EmptyResultEmptiesTheListAndShowsTheWindow) {
  for (const ListViewSpec* viewSpec : listSpecs()) addRow(app.local, *viewSpec, "only");
  connect();
  for (const ListViewSpec* viewSpec : listSpecs()) {
    app.local.clearObjects(queriedClass(viewSpec->query));
    ListViewWindow* view = listView(viewSpec->windowName);
    ASSERT_EQ(view->list()->ListItems().Count(), 1) << viewSpec->windowName;
    EXPECT_TRUE(refillShows(view)) << viewSpec->windowName;
    EXPECT_EQ(view->list()->ListItems().Count(), 0) << viewSpec->windowName;
  }
  EXPECT_TRUE(app.messages.empty());
}

TEST_F(InstanceListTest, FailedQueryWhileConnectedEmptiesTheListWithoutAMessage) {
  for (const ListViewSpec* viewSpec : listSpecs()) addRow(app.local, *viewSpec, "only");
  connect();
  app.local.failures().query = ComError(err::kWbemAccessDenied, "Access denied ", "SWbemServices");
  for (const ListViewSpec* viewSpec : listSpecs()) {
    ListViewWindow* view = listView(viewSpec->windowName);
    app.local.clearCalls();
    EXPECT_TRUE(refillShows(view)) << viewSpec->windowName;
    EXPECT_EQ(view->list()->ListItems().Count(), 0) << viewSpec->windowName;
    EXPECT_EQ(app.local.calls().back(), std::string("query ") + viewSpec->query);
  }
  EXPECT_TRUE(app.messages.empty());
}

TEST_F(InstanceListTest, EnumerationFailingPartWayKeepsTheRowsSoFar) {
  for (const ListViewSpec* viewSpec : listSpecs())
    for (const char* key : {"one", "two", "three", "four"}) addRow(app.local, *viewSpec, key);
  app.local.failures().enumerateAfter = {
      2, ComError(err::kRpcServerUnavailable, "The RPC server is unavailable. ", "SWbemObjectSet")};
  connect();
  for (const ListViewSpec* viewSpec : listSpecs()) {
    ListViewWindow* view = listView(viewSpec->windowName);
    EXPECT_EQ(columnOf(*view->list(), 0), (std::vector<std::string>{"one", "two"}))
        << viewSpec->windowName;
    EXPECT_TRUE(view->subWindow()->isVisible()) << viewSpec->windowName;
  }
  EXPECT_TRUE(app.messages.empty());
}

TEST_F(InstanceListTest, EachValueKindBecomesItsCellText) {
  struct Case {
    const char* header;
    Value value;
    const char* text;
  };
  const std::vector<Case> cases = {
      {"Archive", Value::boolean(true), "True"},
      {"Hidden", Value::boolean(false), "False"},
      {"FileSize", Value::integer(20975616), "20975616"},
      {"InUseCount", Value::integer(-3), "-3"},
      {"MaxFileSize", Value::text("4294901760"), "4294901760"},
      {"LastModified", Value::text("20240102030405.000000+060"), "20240102030405.000000+060"},
      {"Sources", Value::array({Value::text("disk"), Value::text("net")}), ""},
      {"Description", Value::null(), ""},
      {"Drive", Value(), ""},
  };
  const ListViewSpec& viewSpec = frmEventLogFileSpec;
  Properties values;
  for (const auto& c : cases)
    values.emplace_back(viewSpec.columns[columnHeaded(viewSpec, c.header)].property, c.value);
  values.emplace_back("Name", Value::text("C:\\logs\\System.evt"));
  addRow(app.local, viewSpec, "System", values);
  connect();
  const auto rows = rowsOf(*listView(viewSpec.windowName)->list());
  ASSERT_EQ(rows.size(), 1u);
  for (const auto& c : cases)
    EXPECT_EQ(rows[0][columnHeaded(viewSpec, c.header)], c.text) << c.header;
  EXPECT_EQ(rows[0][columnHeaded(viewSpec, "Name")], "C:\\logs\\System.evt")
      << "a failed cell leaves the rest of the row filled";
  EXPECT_EQ(rows[0][0], "System");
}

TEST_F(InstanceListTest, RealNumberUsesTheUsersDecimalSeparator) {
  const QLocale saved;
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  const ListViewSpec& viewSpec = frmProcessorSpec;
  addRow(app.local, viewSpec, "CPU0",
         {{"CurrentVoltage", Value::real(1.25)}, {"LoadPercentage", Value::real(-12.5)}});
  connect();
  QLocale::setDefault(saved);
  const auto rows = rowsOf(*listView(viewSpec.windowName)->list());
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][columnHeaded(viewSpec, "CurrentVoltage")], "1,25");
  EXPECT_EQ(rows[0][columnHeaded(viewSpec, "LoadPercentage")], "-12,5");
}

TEST_F(InstanceListTest, PropertyMissingFromTheClassLeavesOnlyItsCellEmpty) {
  const ListViewSpec& viewSpec = frmLogicalDiskSpec;
  std::vector<std::string> properties;
  for (const auto& column : viewSpec.columns)
    if (std::string_view(column.property) != "FreeSpace" &&
        std::string_view(column.property) != "VolumeName")
      properties.push_back(column.property);
  app.local.addClass(queriedClass(viewSpec.query), viewSpec.keyProperty, properties);
  addRow(app.local, viewSpec,
         "C:", {{"Size", Value::text("1000")}, {"VolumeSerialNumber", Value::text("A1B2")}});
  connect();
  const auto rows = rowsOf(*listView(viewSpec.windowName)->list());
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][columnHeaded(viewSpec, "FreeSpace")], "");
  EXPECT_EQ(rows[0][columnHeaded(viewSpec, "VolumeName")], "");
  EXPECT_EQ(rows[0][columnHeaded(viewSpec, "Size")], "1000");
  EXPECT_EQ(rows[0][columnHeaded(viewSpec, "VolumeSerialNumber")], "A1B2");
}

TEST_F(InstanceListTest, ProcessesSharingANameEachGetTheirOwnRow) {
  const ListViewSpec& viewSpec = frmProcessesSpec;
  const std::string cls = queriedClass(viewSpec.query);
  struct Process {
    const char* handle;
    const char* name;
    int64_t threads;
  };
  const std::vector<Process> processes = {
      {"1", "init", 1}, {"812", "bash", 1}, {"905", "bash", 7}, {"906", "bash", 3}};
  for (const auto& p : processes)
    app.local.addObject(cls, {{"Handle", Value::text(p.handle)},
                              {"Name", Value::text(p.name)},
                              {"ProcessID", Value::integer(std::stoll(p.handle))},
                              {"ThreadCount", Value::integer(p.threads)}});
  connect();
  const auto rows = rowsOf(*listView(viewSpec.windowName)->list());
  ASSERT_EQ(rows.size(), processes.size());
  for (size_t i = 0; i < processes.size(); ++i) {
    EXPECT_EQ(rows[i][columnHeaded(viewSpec, "ProcessName")], processes[i].name) << i;
    EXPECT_EQ(rows[i][columnHeaded(viewSpec, "Handle")], processes[i].handle) << i;
    EXPECT_EQ(rows[i][columnHeaded(viewSpec, "ProcessID")], processes[i].handle) << i;
    EXPECT_EQ(rows[i][columnHeaded(viewSpec, "ThreadCount")], std::to_string(processes[i].threads))
        << i;
  }
}

TEST_F(InstanceListTest, DuplicateKeyIsDroppedWithItsValuesAndTheRowBeforeKeepsItsOwn) {
  const ListViewSpec& viewSpec = frmLogicalDiskSpec;
  addRow(app.local, viewSpec,
         "C:", {{"Size", Value::text("100")}, {"FileSystem", Value::text("ext4")}});
  addRow(app.local, viewSpec, "D:", {{"Size", Value::text("200")}});
  addRow(app.local, viewSpec, "C:",
         {{"Size", Value::text("999")},
          {"FileSystem", Value::text("vfat")},
          {"VolumeName", Value::text("dropped")}});
  addRow(app.local, viewSpec, "E:", {{"Size", Value::text("300")}});
  connect();
  const auto rows = rowsOf(*listView(viewSpec.windowName)->list());
  ASSERT_EQ(rows.size(), 3u);
  const int size = columnHeaded(viewSpec, "Size");
  EXPECT_EQ(rows[0][0], "C:");
  EXPECT_EQ(rows[0][size], "100");
  EXPECT_EQ(rows[0][columnHeaded(viewSpec, "FileSystem")], "ext4");
  EXPECT_EQ(rows[1][0], "D:");
  EXPECT_EQ(rows[1][size], "200");
  EXPECT_EQ(rows[1][columnHeaded(viewSpec, "VolumeName")], "") << "the row before keeps its own";
  EXPECT_EQ(rows[2][0], "E:");
  EXPECT_EQ(rows[2][size], "300");
  for (const auto& row : rows)
    for (const auto& cell : row) EXPECT_TRUE(cell != "999" && cell != "vfat" && cell != "dropped");
}

TEST_F(InstanceListTest, ObjectWithoutAUsableKeyGetsNoRow) {
  const ListViewSpec& viewSpec = frmProcessorSpec;
  const std::string cls = queriedClass(viewSpec.query);
  app.local.addObject(cls, {{"DeviceID", Value::text("CPU0")}, {"Name", Value::text("zero")}});
  app.local.addObject(cls, {{"DeviceID", Value::null()}, {"Name", Value::text("null key")}});
  app.local.addObject(cls, {{"DeviceID", Value::integer(7)}, {"Name", Value::text("number")}});
  app.local.addObject(cls, {{"DeviceID", Value::text("CPU1")}, {"Name", Value::text("one")}});
  connect();
  const auto rows = rowsOf(*listView(viewSpec.windowName)->list());
  ASSERT_EQ(rows.size(), 2u);
  const int name = columnHeaded(viewSpec, "Name");
  EXPECT_EQ(rows[0][0], "CPU0");
  EXPECT_EQ(rows[0][name], "zero");
  EXPECT_EQ(rows[1][0], "CPU1");
  EXPECT_EQ(rows[1][name], "one");
}

TEST_F(InstanceListTest, RefillReplacesEveryRow) {
  const ListViewSpec& viewSpec = frmEventLogFileSpec;
  addRow(app.local, viewSpec, "Application", {{"FileSize", Value::integer(1)}});
  addRow(app.local, viewSpec, "System", {{"FileSize", Value::integer(2)}});
  connect();
  app.local.clearObjects(queriedClass(viewSpec.query));
  addRow(app.local, viewSpec, "System", {{"FileSize", Value::integer(20)}});
  addRow(app.local, viewSpec, "Security");
  ListViewWindow* view = listView(viewSpec.windowName);
  EXPECT_TRUE(refillShows(view));
  const auto rows = rowsOf(*view->list());
  ASSERT_EQ(rows.size(), 2u);
  const int size = columnHeaded(viewSpec, "FileSize");
  EXPECT_EQ(rows[0][0], "System");
  EXPECT_EQ(rows[0][size], "20");
  EXPECT_EQ(rows[1][0], "Security");
  EXPECT_EQ(rows[1][size], "") << "a new row's cells start empty";
}

}  // namespace
}  // namespace kestrava::testing
