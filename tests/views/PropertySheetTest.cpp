#include <QLocale>

#include "platform/Twips.h"
#include "views/ViewTest.h"

namespace kestrava::testing {
namespace {

int rowCountOf(const SheetViewDef& viewDef) {
  return static_cast<int>(viewDef.rowNames.size());
}

int rowOf(const SheetViewDef& viewDef, std::string_view name) {
  for (int k = 1; k <= rowCountOf(viewDef); ++k)
    if (name == viewDef.rowNames[k - 1]) return k;
  ADD_FAILURE() << "no row " << name << " in " << viewDef.windowName;
  return 0;
}

// Every property of the sheet's class holding "<tag>:<name>".
Properties taggedValues(const SheetViewDef& viewDef, const std::string& tag) {
  Properties values;
  for (const char* name : viewDef.rowNames)
    values.emplace_back(name, Value::text(tag + ":" + name));
  return values;
}

// Every cell of a grid, row by row.
std::vector<Row> cellsOf(const GridControl& grid) {
  std::vector<Row> cells;
  for (int r = 0; r < grid.Rows(); ++r) {
    Row row;
    for (int c = 0; c < grid.Cols(); ++c) row.push_back(grid.TextAt(r, c));
    cells.push_back(std::move(row));
  }
  return cells;
}

class PropertySheetTest : public ViewTest {
 protected:
  void addObject(ScriptedService& service, const SheetViewDef& viewDef, const Properties& values) {
    service.addObject(queriedClass(viewDef.query), values);
  }
  // Labels in column 0 of rows 1..N, and row 0 empty.
  void expectLabels(const SheetViewDef& viewDef, const GridControl& grid) {
    EXPECT_EQ(grid.TextAt(0, 0), "") << viewDef.windowName;
    EXPECT_EQ(grid.TextAt(0, 1), "") << viewDef.windowName;
    for (int k = 1; k <= rowCountOf(viewDef); ++k)
      EXPECT_EQ(grid.TextAt(k, 0), viewDef.rowNames[k - 1]) << viewDef.windowName << " row " << k;
  }
  void expectValuesEmpty(const SheetViewDef& viewDef, const GridControl& grid) {
    for (int k = 1; k <= rowCountOf(viewDef); ++k)
      EXPECT_EQ(grid.TextAt(k, 1), "") << viewDef.windowName << " row " << k;
  }
};

TEST_F(PropertySheetTest, FirstFillWritesEveryLabelAndValue) {
  for (const SheetViewDef* viewDef : sheetDefs())
    addObject(app.local, *viewDef, taggedValues(*viewDef, "one"));
  connect();
  for (const SheetViewDef* viewDef : sheetDefs()) {
    SheetViewWindow* view = sheetView(viewDef->windowName);
    const GridControl& grid = *view->grid();
    const int n = rowCountOf(*viewDef);
    EXPECT_EQ(grid.Rows(), n + 1) << "no row after row N";
    EXPECT_EQ(grid.Cols(), 2);
    expectLabels(*viewDef, grid);
    for (int k = 1; k <= n; ++k)
      EXPECT_EQ(grid.TextAt(k, 1), std::string("one:") + viewDef->rowNames[k - 1]) << k;
    EXPECT_EQ(grid.Row(), n);
    EXPECT_EQ(grid.Col(), 1);
    EXPECT_EQ(grid.currentRow(), n);
    EXPECT_EQ(grid.currentColumn(), 1);
    EXPECT_EQ(grid.columnWidth(0), twipsToPixels(viewDef->col0Width));
    EXPECT_EQ(grid.columnWidth(1), twipsToPixels(viewDef->col1Width));
    EXPECT_TRUE(view->subWindow()->isVisible());
  }
  EXPECT_EQ(frmComputerSystemDef.rowNames.back(), std::string("WakeUpType"));
  EXPECT_EQ(frmOperatingSystemDef.rowNames.back(), std::string("WindowsDirectory"));
  EXPECT_EQ(sheetView("frmComputerSystem")->grid()->columnWidth(1), twipsToPixels(2000));
  EXPECT_EQ(sheetView("frmOperatingSystem")->grid()->columnWidth(1), twipsToPixels(3000));
}

TEST_F(PropertySheetTest, EachValueKindBecomesItsCellText) {
  struct Case {
    const char* property;
    Value value;
    const char* text;
  };
  const std::vector<Case> cases = {
      {"CurrentTimeZone", Value::integer(-300), "-300"},
      {"DaylightInEffect", Value::boolean(true), "True"},
      {"AutomaticResetBootOption", Value::boolean(false), "False"},
      {"NumberOfProcessors", Value::integer(4), "4"},
      {"TotalPhysicalMemory", Value::text("17179869184"), "17179869184"},
      {"InstallDate", Value::text("20240102030405.000000+060"), "20240102030405.000000+060"},
      {"OEMStringArray", Value::array({Value::text("a"), Value::text("b")}), ""},
      {"PowerManagementCapabilities", Value::array({Value::integer(1)}), ""},
      {"Description", Value::null(), ""},
      {"Model", Value(), ""},
  };
  const SheetViewDef& viewDef = frmComputerSystemDef;
  Properties values;
  for (const auto& c : cases) values.emplace_back(c.property, c.value);
  values.emplace_back("WakeUpType", Value::integer(6));
  addObject(app.local, viewDef, values);
  connect();
  const GridControl& grid = *sheetView(viewDef.windowName)->grid();
  expectLabels(viewDef, grid);
  for (const auto& c : cases)
    EXPECT_EQ(grid.TextAt(rowOf(viewDef, c.property), 1), c.text) << c.property;
  EXPECT_EQ(grid.TextAt(rowOf(viewDef, "WakeUpType"), 1), "6")
      << "a failed value stops no later row";
}

TEST_F(PropertySheetTest, RealNumberUsesTheUsersDecimalSeparator) {
  const QLocale saved;
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  addObject(app.local, frmOperatingSystemDef, {{"FreePhysicalMemory", Value::real(-1.5)}});
  connect();
  QLocale::setDefault(saved);
  const GridControl& grid = *sheetView("frmOperatingSystem")->grid();
  EXPECT_EQ(grid.TextAt(rowOf(frmOperatingSystemDef, "FreePhysicalMemory"), 1), "-1,5");
}

TEST_F(PropertySheetTest, WithTwoObjectsTheLastReadableValueWins) {
  const SheetViewDef& viewDef = frmOperatingSystemDef;
  addObject(app.local, viewDef, taggedValues(viewDef, "first"));
  Properties second = taggedValues(viewDef, "second");
  for (auto& [name, value] : second) {
    if (name == "Organization") value = Value::null();
    if (name == "OSProductSuite") value = Value::array({Value::integer(1)});
  }
  addObject(app.local, viewDef, second);
  connect();
  const GridControl& grid = *sheetView(viewDef.windowName)->grid();
  for (int k = 1; k <= rowCountOf(viewDef); ++k) {
    const std::string name = viewDef.rowNames[k - 1];
    const bool unreadable = name == "Organization" || name == "OSProductSuite";
    EXPECT_EQ(grid.TextAt(k, 1), (unreadable ? "first:" : "second:") + name) << name;
  }
  EXPECT_EQ(grid.Row(), rowCountOf(viewDef));
  EXPECT_EQ(grid.Col(), 1);
}

TEST_F(PropertySheetTest, NoObjectWritesTheLabelsAndEmptiesTheValues) {
  for (const SheetViewDef* viewDef : sheetDefs())
    addObject(app.local, *viewDef, taggedValues(*viewDef, "old"));
  connect();
  for (const SheetViewDef* viewDef : sheetDefs()) {
    app.local.clearObjects(queriedClass(viewDef->query));
    SheetViewWindow* view = sheetView(viewDef->windowName);
    EXPECT_TRUE(refillShows(view)) << viewDef->windowName;
    expectLabels(*viewDef, *view->grid());
    expectValuesEmpty(*viewDef, *view->grid());
    EXPECT_EQ(view->grid()->Row(), rowCountOf(*viewDef));
    EXPECT_EQ(view->grid()->Col(), 1);
  }
  EXPECT_TRUE(app.messages.empty());
}

TEST_F(PropertySheetTest, FirstFillWithoutObjectsStillWritesTheLabels) {
  connect();
  for (const SheetViewDef* viewDef : sheetDefs()) {
    SheetViewWindow* view = sheetView(viewDef->windowName);
    expectLabels(*viewDef, *view->grid());
    expectValuesEmpty(*viewDef, *view->grid());
    EXPECT_EQ(view->grid()->columnWidth(0), twipsToPixels(3000));
    EXPECT_TRUE(view->subWindow()->isVisible());
  }
}

TEST_F(PropertySheetTest, FailedQueryWhileConnectedWritesLabelsAndNoValueWithoutAMessage) {
  for (const SheetViewDef* viewDef : sheetDefs())
    addObject(app.local, *viewDef, taggedValues(*viewDef, "old"));
  connect();
  app.local.failures().query = ComError(err::kWbemAccessDenied, "Access denied ", "SWbemServices");
  for (const SheetViewDef* viewDef : sheetDefs()) {
    SheetViewWindow* view = sheetView(viewDef->windowName);
    EXPECT_TRUE(refillShows(view)) << viewDef->windowName;
    expectLabels(*viewDef, *view->grid());
    expectValuesEmpty(*viewDef, *view->grid());
  }
  EXPECT_TRUE(app.messages.empty());
}

TEST_F(PropertySheetTest, FirstFillAfterAFailedQueryStillWritesLabelsAndWidths) {
  app.local.failures().query = ComError(err::kWbemAccessDenied, "Access denied ", "SWbemServices");
  connect();
  for (const SheetViewDef* viewDef : sheetDefs()) {
    const GridControl& grid = *sheetView(viewDef->windowName)->grid();
    expectLabels(*viewDef, grid);
    expectValuesEmpty(*viewDef, grid);
    EXPECT_EQ(grid.columnWidth(0), twipsToPixels(viewDef->col0Width));
    EXPECT_EQ(grid.columnWidth(1), twipsToPixels(viewDef->col1Width));
    EXPECT_EQ(grid.Row(), rowCountOf(*viewDef));
    EXPECT_TRUE(sheetView(viewDef->windowName)->subWindow()->isVisible());
  }
}

TEST_F(PropertySheetTest, EnumerationFailingPartWayKeepsWhatTheObjectsBeforeWrote) {
  const SheetViewDef& viewDef = frmComputerSystemDef;
  addObject(app.local, viewDef, taggedValues(viewDef, "first"));
  addObject(app.local, viewDef, taggedValues(viewDef, "second"));
  app.local.failures().enumerateAfter = {
      1, ComError(err::kRpcServerUnavailable, "The RPC server is unavailable. ", "SWbemObjectSet")};
  connect();
  const GridControl& grid = *sheetView(viewDef.windowName)->grid();
  for (int k = 1; k <= rowCountOf(viewDef); ++k)
    EXPECT_EQ(grid.TextAt(k, 1), std::string("first:") + viewDef.rowNames[k - 1]) << k;
  EXPECT_TRUE(sheetView(viewDef.windowName)->subWindow()->isVisible());

  // A set whose first object cannot be fetched: labels, and no value at all.
  app.local.failures().enumerateAfter = {
      0, ComError(err::kRpcServerUnavailable, "The RPC server is unavailable. ", "SWbemObjectSet")};
  EXPECT_TRUE(refillShows(sheetView(viewDef.windowName)));
  expectLabels(viewDef, grid);
  expectValuesEmpty(viewDef, grid);
}

TEST_F(PropertySheetTest, WithoutAConnectionTheGridIsUntouchedAndTheWindowNotShown) {
  // Before any connect: the message, and the sheet as designed, empty.
  for (const SheetViewDef* viewDef : sheetDefs()) {
    SheetViewWindow* view = sheetView(viewDef->windowName);
    const auto before = cellsOf(*view->grid());
    const int width = view->grid()->columnWidth(1);
    view->ShowForm();
    EXPECT_EQ(cellsOf(*view->grid()), before) << viewDef->windowName;
    EXPECT_EQ(view->grid()->columnWidth(1), width) << viewDef->windowName;
    EXPECT_FALSE(view->subWindow()->isVisible()) << viewDef->windowName;
  }
  ASSERT_EQ(app.messages.size(), 2u);
  for (const auto& m : app.messages) {
    EXPECT_EQ(m.text, "Please CONNECT to Local or Remote computer first");
    EXPECT_EQ(m.title, "Connect please!");
  }

  // After a fill, with the connection gone: the filled sheet stays as it was.
  for (const SheetViewDef* viewDef : sheetDefs())
    addObject(app.local, *viewDef, taggedValues(*viewDef, "one"));
  app.messages.clear();
  connect();
  app.main->WBEMServices.reset();
  app.messages.clear();
  for (const SheetViewDef* viewDef : sheetDefs()) {
    SheetViewWindow* view = sheetView(viewDef->windowName);
    const auto before = cellsOf(*view->grid());
    EXPECT_FALSE(refillShows(view)) << viewDef->windowName;
    EXPECT_EQ(cellsOf(*view->grid()), before) << viewDef->windowName;
  }
  EXPECT_EQ(app.messages.size(), 2u);
}

TEST_F(PropertySheetTest, ValueOfAnEarlierComputerNeverShowsBesideTheNextOnesValues) {
  for (const SheetViewDef* viewDef : sheetDefs()) {
    addObject(app.local, *viewDef, taggedValues(*viewDef, "near"));
    Properties far = taggedValues(*viewDef, "far");
    far[0].second = Value::null();
    far[1].second = Value::array({});
    far.erase(far.begin() + 2);  // left null by the scripted service too
    addObject(app.remote, *viewDef, far);
  }
  connect();
  ASSERT_TRUE(app.connectVia("far"));
  for (const SheetViewDef* viewDef : sheetDefs()) {
    const GridControl& grid = *sheetView(viewDef->windowName)->grid();
    for (int k = 1; k <= 3; ++k)
      EXPECT_EQ(grid.TextAt(k, 1), "") << viewDef->windowName << " " << k;
    for (int k = 4; k <= rowCountOf(*viewDef); ++k)
      EXPECT_EQ(grid.TextAt(k, 1), std::string("far:") + viewDef->rowNames[k - 1]) << k;
  }
}

}  // namespace
}  // namespace kestrava::testing
