#include <QLocale>

#include "platform/Twips.h"
#include "views/ViewTest.h"

namespace kestrava::testing {
namespace {

int rowCountOf(const SheetViewSpec& viewSpec) {
  return static_cast<int>(viewSpec.rowNames.size());
}

int rowOf(const SheetViewSpec& viewSpec, std::string_view name) {
  for (int k = 1; k <= rowCountOf(viewSpec); ++k)
    if (name == viewSpec.rowNames[k - 1]) return k;
  ADD_FAILURE() << "no row " << name << " in " << viewSpec.windowName;
  return 0;
}

// Every property of the sheet's class holding "<tag>:<name>".
Properties taggedValues(const SheetViewSpec& viewSpec, const std::string& tag) {
  Properties values;
  for (const char* name : viewSpec.rowNames)
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
  void addObject(ScriptedService& service, const SheetViewSpec& viewSpec,
                 const Properties& values) {
    service.addObject(queriedClass(viewSpec.query), values);
  }
  // Labels in column 0 of rows 1..N, and row 0 empty.
  void expectLabels(const SheetViewSpec& viewSpec, const GridControl& grid) {
    EXPECT_EQ(grid.TextAt(0, 0), "") << viewSpec.windowName;
    EXPECT_EQ(grid.TextAt(0, 1), "") << viewSpec.windowName;
    for (int k = 1; k <= rowCountOf(viewSpec); ++k)
      EXPECT_EQ(grid.TextAt(k, 0), viewSpec.rowNames[k - 1]) << viewSpec.windowName << " row " << k;
  }
  void expectValuesEmpty(const SheetViewSpec& viewSpec, const GridControl& grid) {
    for (int k = 1; k <= rowCountOf(viewSpec); ++k)
      EXPECT_EQ(grid.TextAt(k, 1), "") << viewSpec.windowName << " row " << k;
  }
};

TEST_F(PropertySheetTest, FirstFillWritesEveryLabelAndValue) {
  for (const SheetViewSpec* viewSpec : sheetSpecs())
    addObject(app.local, *viewSpec, taggedValues(*viewSpec, "one"));
  connect();
  for (const SheetViewSpec* viewSpec : sheetSpecs()) {
    SheetViewWindow* view = sheetView(viewSpec->windowName);
    const GridControl& grid = *view->grid();
    const int n = rowCountOf(*viewSpec);
    EXPECT_EQ(grid.Rows(), n + 1) << "no row after row N";
    EXPECT_EQ(grid.Cols(), 2);
    expectLabels(*viewSpec, grid);
    for (int k = 1; k <= n; ++k)
      EXPECT_EQ(grid.TextAt(k, 1), std::string("one:") + viewSpec->rowNames[k - 1]) << k;
    EXPECT_EQ(grid.Row(), n);
    EXPECT_EQ(grid.Col(), 1);
    EXPECT_EQ(grid.currentRow(), n);
    EXPECT_EQ(grid.currentColumn(), 1);
    EXPECT_EQ(grid.columnWidth(0), twipsToPixels(viewSpec->col0Width));
    EXPECT_EQ(grid.columnWidth(1), twipsToPixels(viewSpec->col1Width));
    EXPECT_TRUE(view->subWindow()->isVisible());
  }
  EXPECT_EQ(frmComputerSystemSpec.rowNames.back(), std::string("WakeUpType"));
  EXPECT_EQ(frmOperatingSystemSpec.rowNames.back(), std::string("WindowsDirectory"));
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
  const SheetViewSpec& viewSpec = frmComputerSystemSpec;
  Properties values;
  for (const auto& c : cases) values.emplace_back(c.property, c.value);
  values.emplace_back("WakeUpType", Value::integer(6));
  addObject(app.local, viewSpec, values);
  connect();
  const GridControl& grid = *sheetView(viewSpec.windowName)->grid();
  expectLabels(viewSpec, grid);
  for (const auto& c : cases)
    EXPECT_EQ(grid.TextAt(rowOf(viewSpec, c.property), 1), c.text) << c.property;
  EXPECT_EQ(grid.TextAt(rowOf(viewSpec, "WakeUpType"), 1), "6")
      << "a failed value stops no later row";
}

TEST_F(PropertySheetTest, RealNumberUsesTheUsersDecimalSeparator) {
  const QLocale saved;
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  addObject(app.local, frmOperatingSystemSpec, {{"FreePhysicalMemory", Value::real(-1.5)}});
  connect();
  QLocale::setDefault(saved);
  const GridControl& grid = *sheetView("frmOperatingSystem")->grid();
  EXPECT_EQ(grid.TextAt(rowOf(frmOperatingSystemSpec, "FreePhysicalMemory"), 1), "-1,5");
}

TEST_F(PropertySheetTest, WithTwoObjectsTheLastReadableValueWins) {
  const SheetViewSpec& viewSpec = frmOperatingSystemSpec;
  addObject(app.local, viewSpec, taggedValues(viewSpec, "first"));
  Properties second = taggedValues(viewSpec, "second");
  for (auto& [name, value] : second) {
    if (name == "Organization") value = Value::null();
    if (name == "OSProductSuite") value = Value::array({Value::integer(1)});
  }
  addObject(app.local, viewSpec, second);
  connect();
  const GridControl& grid = *sheetView(viewSpec.windowName)->grid();
  for (int k = 1; k <= rowCountOf(viewSpec); ++k) {
    const std::string name = viewSpec.rowNames[k - 1];
    const bool unreadable = name == "Organization" || name == "OSProductSuite";
    EXPECT_EQ(grid.TextAt(k, 1), (unreadable ? "first:" : "second:") + name) << name;
  }
  EXPECT_EQ(grid.Row(), rowCountOf(viewSpec));
  EXPECT_EQ(grid.Col(), 1);
}

TEST_F(PropertySheetTest, NoObjectWritesTheLabelsAndEmptiesTheValues) {
  for (const SheetViewSpec* viewSpec : sheetSpecs())
    addObject(app.local, *viewSpec, taggedValues(*viewSpec, "old"));
  connect();
  for (const SheetViewSpec* viewSpec : sheetSpecs()) {
    app.local.clearObjects(queriedClass(viewSpec->query));
    SheetViewWindow* view = sheetView(viewSpec->windowName);
    EXPECT_TRUE(refillShows(view)) << viewSpec->windowName;
    expectLabels(*viewSpec, *view->grid());
    expectValuesEmpty(*viewSpec, *view->grid());
    EXPECT_EQ(view->grid()->Row(), rowCountOf(*viewSpec));
    EXPECT_EQ(view->grid()->Col(), 1);
  }
  EXPECT_TRUE(app.messages.empty());
}

TEST_F(PropertySheetTest, FirstFillWithoutObjectsStillWritesTheLabels) {
  connect();
  for (const SheetViewSpec* viewSpec : sheetSpecs()) {
    SheetViewWindow* view = sheetView(viewSpec->windowName);
    expectLabels(*viewSpec, *view->grid());
    expectValuesEmpty(*viewSpec, *view->grid());
    EXPECT_EQ(view->grid()->columnWidth(0), twipsToPixels(3000));
    EXPECT_TRUE(view->subWindow()->isVisible());
  }
}

TEST_F(PropertySheetTest, FailedQueryWhileConnectedWritesLabelsAndNoValueWithoutAMessage) {
  for (const SheetViewSpec* viewSpec : sheetSpecs())
    addObject(app.local, *viewSpec, taggedValues(*viewSpec, "old"));
  connect();
  app.local.failures().query = ComError(err::kWbemAccessDenied, "Access denied ", "SWbemServices");
  for (const SheetViewSpec* viewSpec : sheetSpecs()) {
    SheetViewWindow* view = sheetView(viewSpec->windowName);
    EXPECT_TRUE(refillShows(view)) << viewSpec->windowName;
    expectLabels(*viewSpec, *view->grid());
    expectValuesEmpty(*viewSpec, *view->grid());
  }
  EXPECT_TRUE(app.messages.empty());
}

TEST_F(PropertySheetTest, FirstFillAfterAFailedQueryStillWritesLabelsAndWidths) {
  app.local.failures().query = ComError(err::kWbemAccessDenied, "Access denied ", "SWbemServices");
  connect();
  for (const SheetViewSpec* viewSpec : sheetSpecs()) {
    const GridControl& grid = *sheetView(viewSpec->windowName)->grid();
    expectLabels(*viewSpec, grid);
    expectValuesEmpty(*viewSpec, grid);
    EXPECT_EQ(grid.columnWidth(0), twipsToPixels(viewSpec->col0Width));
    EXPECT_EQ(grid.columnWidth(1), twipsToPixels(viewSpec->col1Width));
    EXPECT_EQ(grid.Row(), rowCountOf(*viewSpec));
    EXPECT_TRUE(sheetView(viewSpec->windowName)->subWindow()->isVisible());
  }
}

TEST_F(PropertySheetTest, EnumerationFailingPartWayKeepsWhatTheObjectsBeforeWrote) {
  const SheetViewSpec& viewSpec = frmComputerSystemSpec;
  addObject(app.local, viewSpec, taggedValues(viewSpec, "first"));
  addObject(app.local, viewSpec, taggedValues(viewSpec, "second"));
  app.local.failures().enumerateAfter = {
      1, ComError(err::kRpcServerUnavailable, "The RPC server is unavailable. ", "SWbemObjectSet")};
  connect();
  const GridControl& grid = *sheetView(viewSpec.windowName)->grid();
  for (int k = 1; k <= rowCountOf(viewSpec); ++k)
    EXPECT_EQ(grid.TextAt(k, 1), std::string("first:") + viewSpec.rowNames[k - 1]) << k;
  EXPECT_TRUE(sheetView(viewSpec.windowName)->subWindow()->isVisible());

  // A set whose first object cannot be fetched: labels, and no value at all.
  app.local.failures().enumerateAfter = {
      0, ComError(err::kRpcServerUnavailable, "The RPC server is unavailable. ", "SWbemObjectSet")};
  EXPECT_TRUE(refillShows(sheetView(viewSpec.windowName)));
  expectLabels(viewSpec, grid);
  expectValuesEmpty(viewSpec, grid);
}

TEST_F(PropertySheetTest, WithoutAConnectionTheGridIsUntouchedAndTheWindowNotShown) {
  // Before any connect: the message, and the sheet as designed, empty.
  for (const SheetViewSpec* viewSpec : sheetSpecs()) {
    SheetViewWindow* view = sheetView(viewSpec->windowName);
    const auto before = cellsOf(*view->grid());
    const int width = view->grid()->columnWidth(1);
    view->ShowForm();
    EXPECT_EQ(cellsOf(*view->grid()), before) << viewSpec->windowName;
    EXPECT_EQ(view->grid()->columnWidth(1), width) << viewSpec->windowName;
    EXPECT_FALSE(view->subWindow()->isVisible()) << viewSpec->windowName;
  }
  ASSERT_EQ(app.messages.size(), 2u);
  for (const auto& m : app.messages) {
    EXPECT_EQ(m.text, "Please CONNECT to Local or Remote computer first");
    EXPECT_EQ(m.title, "Connect please!");
  }

  // After a fill, with the connection gone: the filled sheet stays as it was.
  for (const SheetViewSpec* viewSpec : sheetSpecs())
    addObject(app.local, *viewSpec, taggedValues(*viewSpec, "one"));
  app.messages.clear();
  connect();
  app.main->WBEMServices.reset();
  app.messages.clear();
  for (const SheetViewSpec* viewSpec : sheetSpecs()) {
    SheetViewWindow* view = sheetView(viewSpec->windowName);
    const auto before = cellsOf(*view->grid());
    EXPECT_FALSE(refillShows(view)) << viewSpec->windowName;
    EXPECT_EQ(cellsOf(*view->grid()), before) << viewSpec->windowName;
  }
  EXPECT_EQ(app.messages.size(), 2u);
}

TEST_F(PropertySheetTest, ValueOfAnEarlierComputerNeverShowsBesideTheNextOnesValues) {
  for (const SheetViewSpec* viewSpec : sheetSpecs()) {
    addObject(app.local, *viewSpec, taggedValues(*viewSpec, "near"));
    Properties far = taggedValues(*viewSpec, "far");
    far[0].second = Value::null();
    far[1].second = Value::array({});
    far.erase(far.begin() + 2);  // left null by the scripted service too
    addObject(app.remote, *viewSpec, far);
  }
  connect();
  ASSERT_TRUE(app.connectVia("far"));
  for (const SheetViewSpec* viewSpec : sheetSpecs()) {
    const GridControl& grid = *sheetView(viewSpec->windowName)->grid();
    for (int k = 1; k <= 3; ++k)
      EXPECT_EQ(grid.TextAt(k, 1), "") << viewSpec->windowName << " " << k;
    for (int k = 4; k <= rowCountOf(*viewSpec); ++k)
      EXPECT_EQ(grid.TextAt(k, 1), std::string("far:") + viewSpec->rowNames[k - 1]) << k;
  }
}

}  // namespace
}  // namespace kestrava::testing
