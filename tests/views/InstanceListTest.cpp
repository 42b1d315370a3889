#include <QLocale>
#include <algorithm>

#include "views/ViewTest.h"
#include "views/services/frmServices.h"

namespace kestrava::testing {
namespace {

// One object of a view's class, keyed (and, for processes, named) by `key`.
void addRow(ScriptedService& service, const ListViewDef& viewDef, const std::string& key,
            Properties more = {}) {
  more.emplace_back(viewDef.keyProperty, Value::text(key));
  more.emplace_back(viewDef.textProperty, Value::text(key));
  service.addObject(queriedClass(viewDef.query), more);
}

using InstanceListTest = ViewTest;

TEST_F(InstanceListTest, EveryListRefillsFromItsOwnClassAndIsShown) {
  for (const ListViewDef* viewDef : listDefs()) {
    addRow(app.local, *viewDef, "first");
    addRow(app.local, *viewDef, "second");
  }
  connect();
  for (const ListViewDef* viewDef : listDefs()) {
    ListViewWindow* view = listView(viewDef->windowName);
    EXPECT_EQ(columnOf(*view->list(), 0), (std::vector<std::string>{"first", "second"}))
        << viewDef->windowName;
    EXPECT_TRUE(view->subWindow()->isVisible()) << viewDef->windowName;
  }
}

TEST_F(InstanceListTest, EmptyResultEmptiesTheListAndShowsTheWindow) {
  for (const ListViewDef* viewDef : listDefs()) addRow(app.local, *viewDef, "only");
  connect();
  for (const ListViewDef* viewDef : listDefs()) {
    app.local.clearObjects(queriedClass(viewDef->query));
    ListViewWindow* view = listView(viewDef->windowName);
    ASSERT_EQ(view->list()->ListItems().Count(), 1) << viewDef->windowName;
    EXPECT_TRUE(refillShows(view)) << viewDef->windowName;
    EXPECT_EQ(view->list()->ListItems().Count(), 0) << viewDef->windowName;
  }
  EXPECT_TRUE(app.messages.empty());
}

TEST_F(InstanceListTest, FailedQueryWhileConnectedEmptiesTheListWithoutAMessage) {
  for (const ListViewDef* viewDef : listDefs()) addRow(app.local, *viewDef, "only");
  connect();
  app.local.failures().query = ComError(err::kWbemAccessDenied, "Access denied ", "SWbemServices");
  for (const ListViewDef* viewDef : listDefs()) {
    ListViewWindow* view = listView(viewDef->windowName);
    app.local.clearCalls();
    EXPECT_TRUE(refillShows(view)) << viewDef->windowName;
    EXPECT_EQ(view->list()->ListItems().Count(), 0) << viewDef->windowName;
    EXPECT_EQ(app.local.calls().back(), std::string("query ") + viewDef->query);
  }
  EXPECT_TRUE(app.messages.empty());
}

TEST_F(InstanceListTest, EnumerationFailingPartWayKeepsTheRowsSoFar) {
  for (const ListViewDef* viewDef : listDefs())
    for (const char* key : {"one", "two", "three", "four"}) addRow(app.local, *viewDef, key);
  app.local.failures().enumerateAfter = {
      2, ComError(err::kRpcServerUnavailable, "The RPC server is unavailable. ", "SWbemObjectSet")};
  connect();
  for (const ListViewDef* viewDef : listDefs()) {
    ListViewWindow* view = listView(viewDef->windowName);
    EXPECT_EQ(columnOf(*view->list(), 0), (std::vector<std::string>{"one", "two"}))
        << viewDef->windowName;
    EXPECT_TRUE(view->subWindow()->isVisible()) << viewDef->windowName;
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
  const ListViewDef& viewDef = frmEventLogFileDef;
  Properties values;
  for (const auto& c : cases)
    values.emplace_back(viewDef.columns[columnHeaded(viewDef, c.header)].property, c.value);
  values.emplace_back("Name", Value::text("C:\\logs\\System.evt"));
  addRow(app.local, viewDef, "System", values);
  connect();
  const auto rows = rowsOf(*listView(viewDef.windowName)->list());
  ASSERT_EQ(rows.size(), 1u);
  for (const auto& c : cases)
    EXPECT_EQ(rows[0][columnHeaded(viewDef, c.header)], c.text) << c.header;
  EXPECT_EQ(rows[0][columnHeaded(viewDef, "Name")], "C:\\logs\\System.evt")
      << "a failed cell leaves the rest of the row filled";
  EXPECT_EQ(rows[0][0], "System");
}

TEST_F(InstanceListTest, RealNumberUsesTheUsersDecimalSeparator) {
  const QLocale saved;
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  const ListViewDef& viewDef = frmProcessorDef;
  addRow(app.local, viewDef, "CPU0",
         {{"CurrentVoltage", Value::real(1.25)}, {"LoadPercentage", Value::real(-12.5)}});
  connect();
  QLocale::setDefault(saved);
  const auto rows = rowsOf(*listView(viewDef.windowName)->list());
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][columnHeaded(viewDef, "CurrentVoltage")], "1,25");
  EXPECT_EQ(rows[0][columnHeaded(viewDef, "LoadPercentage")], "-12,5");
}

TEST_F(InstanceListTest, PropertyMissingFromTheClassLeavesOnlyItsCellEmpty) {
  const ListViewDef& viewDef = frmLogicalDiskDef;
  std::vector<std::string> properties;
  for (const auto& column : viewDef.columns)
    if (std::string_view(column.property) != "FreeSpace" &&
        std::string_view(column.property) != "VolumeName")
      properties.push_back(column.property);
  app.local.addClass(queriedClass(viewDef.query), viewDef.keyProperty, properties);
  addRow(app.local, viewDef,
         "C:", {{"Size", Value::text("1000")}, {"VolumeSerialNumber", Value::text("A1B2")}});
  connect();
  const auto rows = rowsOf(*listView(viewDef.windowName)->list());
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][columnHeaded(viewDef, "FreeSpace")], "");
  EXPECT_EQ(rows[0][columnHeaded(viewDef, "VolumeName")], "");
  EXPECT_EQ(rows[0][columnHeaded(viewDef, "Size")], "1000");
  EXPECT_EQ(rows[0][columnHeaded(viewDef, "VolumeSerialNumber")], "A1B2");
}

TEST_F(InstanceListTest, ProcessesSharingANameEachGetTheirOwnRow) {
  const ListViewDef& viewDef = frmProcessesDef;
  const std::string cls = queriedClass(viewDef.query);
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
  const auto rows = rowsOf(*listView(viewDef.windowName)->list());
  ASSERT_EQ(rows.size(), processes.size());
  for (size_t i = 0; i < processes.size(); ++i) {
    EXPECT_EQ(rows[i][columnHeaded(viewDef, "ProcessName")], processes[i].name) << i;
    EXPECT_EQ(rows[i][columnHeaded(viewDef, "Handle")], processes[i].handle) << i;
    EXPECT_EQ(rows[i][columnHeaded(viewDef, "ProcessID")], processes[i].handle) << i;
    EXPECT_EQ(rows[i][columnHeaded(viewDef, "ThreadCount")], std::to_string(processes[i].threads))
        << i;
  }
}

TEST_F(InstanceListTest, DuplicateKeyIsDroppedWithItsValuesAndTheRowBeforeKeepsItsOwn) {
  const ListViewDef& viewDef = frmLogicalDiskDef;
  addRow(app.local, viewDef,
         "C:", {{"Size", Value::text("100")}, {"FileSystem", Value::text("ext4")}});
  addRow(app.local, viewDef, "D:", {{"Size", Value::text("200")}});
  addRow(app.local, viewDef, "C:",
         {{"Size", Value::text("999")},
          {"FileSystem", Value::text("vfat")},
          {"VolumeName", Value::text("dropped")}});
  addRow(app.local, viewDef, "E:", {{"Size", Value::text("300")}});
  connect();
  const auto rows = rowsOf(*listView(viewDef.windowName)->list());
  ASSERT_EQ(rows.size(), 3u);
  const int size = columnHeaded(viewDef, "Size");
  EXPECT_EQ(rows[0][0], "C:");
  EXPECT_EQ(rows[0][size], "100");
  EXPECT_EQ(rows[0][columnHeaded(viewDef, "FileSystem")], "ext4");
  EXPECT_EQ(rows[1][0], "D:");
  EXPECT_EQ(rows[1][size], "200");
  EXPECT_EQ(rows[1][columnHeaded(viewDef, "VolumeName")], "") << "the row before keeps its own";
  EXPECT_EQ(rows[2][0], "E:");
  EXPECT_EQ(rows[2][size], "300");
  for (const auto& row : rows)
    for (const auto& cell : row) EXPECT_TRUE(cell != "999" && cell != "vfat" && cell != "dropped");
}

TEST_F(InstanceListTest, ObjectWithoutAUsableKeyGetsNoRow) {
  const ListViewDef& viewDef = frmProcessorDef;
  const std::string cls = queriedClass(viewDef.query);
  app.local.addObject(cls, {{"DeviceID", Value::text("CPU0")}, {"Name", Value::text("zero")}});
  app.local.addObject(cls, {{"DeviceID", Value::null()}, {"Name", Value::text("null key")}});
  app.local.addObject(cls, {{"DeviceID", Value::integer(7)}, {"Name", Value::text("number")}});
  app.local.addObject(cls, {{"DeviceID", Value::text("CPU1")}, {"Name", Value::text("one")}});
  connect();
  const auto rows = rowsOf(*listView(viewDef.windowName)->list());
  ASSERT_EQ(rows.size(), 2u);
  const int name = columnHeaded(viewDef, "Name");
  EXPECT_EQ(rows[0][0], "CPU0");
  EXPECT_EQ(rows[0][name], "zero");
  EXPECT_EQ(rows[1][0], "CPU1");
  EXPECT_EQ(rows[1][name], "one");
}

TEST_F(InstanceListTest, RefillReplacesEveryRow) {
  const ListViewDef& viewDef = frmEventLogFileDef;
  addRow(app.local, viewDef, "Application", {{"FileSize", Value::integer(1)}});
  addRow(app.local, viewDef, "System", {{"FileSize", Value::integer(2)}});
  connect();
  app.local.clearObjects(queriedClass(viewDef.query));
  addRow(app.local, viewDef, "System", {{"FileSize", Value::integer(20)}});
  addRow(app.local, viewDef, "Security");
  ListViewWindow* view = listView(viewDef.windowName);
  EXPECT_TRUE(refillShows(view));
  const auto rows = rowsOf(*view->list());
  ASSERT_EQ(rows.size(), 2u);
  const int size = columnHeaded(viewDef, "FileSize");
  EXPECT_EQ(rows[0][0], "System");
  EXPECT_EQ(rows[0][size], "20");
  EXPECT_EQ(rows[1][0], "Security");
  EXPECT_EQ(rows[1][size], "") << "a new row's cells start empty";
}

}  // namespace
}  // namespace kestrava::testing
