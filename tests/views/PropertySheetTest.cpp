#include <QLocale>

#include "platform/Twips.h"
#include "views/ViewTest.h"

namespace kestrava::testing {
namespace {

const SheetViewSpec* const kSheetSpecs[] = {&frmComputerSystemSpec, &frmOperatingSystemSpec};

int rowCountOf(const SheetViewSpec& spec) {
  return static_cast<int>(spec.rowNames.size());
}

int rowOf(const SheetViewSpec& spec, std::string_view name) {
  for (int k = 1; k <= rowCountOf(spec); ++k)
    if (name == spec.rowNames[k - 1]) return k;
  ADD_FAILURE() << "no row " << name << " in " << spec.windowName;
  return 0;
}

// Every property of the sheet's class holding "<tag>:<name>".
Properties taggedValues(const SheetViewSpec& spec, const std::string& tag) {
  Properties values;
  for (const char* name : spec.rowNames) values.emplace_back(name, Value::text(tag + ":" + name));
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
  void addObject(ScriptedService& service, const SheetViewSpec& spec, const Properties& values) {
    service.addObject(queriedClass(spec.query), values);
  }
  // Labels in column 0 of rows 1..N, and row 0 empty.
  void expectLabels(const SheetViewSpec& spec, const GridControl& grid) {
    EXPECT_EQ(grid.TextAt(0, 0), "") << spec.windowName;
    EXPECT_EQ(grid.TextAt(0, 1), "") << spec.windowName;
    for (int k = 1; k <= rowCountOf(spec); ++k)
      EXPECT_EQ(grid.TextAt(k, 0), spec.rowNames[k - 1]) << spec.windowName << " row " << k;
  }
  void expectValuesEmpty(const SheetViewSpec& spec, const GridControl& grid) {
    for (int k = 1; k <= rowCountOf(spec); ++k)
      EXPECT_EQ(grid.TextAt(k, 1), "") << spec.windowName << " row " << k;
  }
};

TEST_F(PropertySheetTest, FirstFillWritesEveryLabelAndValue) {
  for (const SheetViewSpec* spec : kSheetSpecs)
    addObject(app.local, *spec, taggedValues(*spec, "one"));
  connect();
  for (const SheetViewSpec* spec : kSheetSpecs) {
    SheetViewWindow* view = sheetView(spec->windowName);
    const GridControl& grid = *view->grid();
    const int n = rowCountOf(*spec);
    EXPECT_EQ(grid.Rows(), n + 1) << "no row after row N";
    EXPECT_EQ(grid.Cols(), 2);
    expectLabels(*spec, grid);
    for (int k = 1; k <= n; ++k)
      EXPECT_EQ(grid.TextAt(k, 1), std::string("one:") + spec->rowNames[k - 1]) << k;
    EXPECT_EQ(grid.Row(), n);
    EXPECT_EQ(grid.Col(), 1);
    EXPECT_EQ(grid.currentRow(), n);
    EXPECT_EQ(grid.currentColumn(), 1);
    EXPECT_EQ(grid.columnWidth(0), twipsToPixels(spec->col0Width));
    EXPECT_EQ(grid.columnWidth(1), twipsToPixels(spec->col1Width));
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
  const SheetViewSpec& spec = frmComputerSystemSpec;
  Properties values;
  for (const auto& c : cases) values.emplace_back(c.property, c.value);
  values.emplace_back("WakeUpType", Value::integer(6));
  addObject(app.local, spec, values);
  connect();
  const GridControl& grid = *sheetView(spec.windowName)->grid();
  expectLabels(spec, grid);
  for (const auto& c : cases)
    EXPECT_EQ(grid.TextAt(rowOf(spec, c.property), 1), c.text) << c.property;
  EXPECT_EQ(grid.TextAt(rowOf(spec, "WakeUpType"), 1), "6") << "a failed value stops no later row";
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
  const SheetViewSpec& spec = frmOperatingSystemSpec;
  addObject(app.local, spec, taggedValues(spec, "first"));
  Properties second = taggedValues(spec, "second");
  for (auto& [name, value] : second) {
    if (name == "Organization") value = Value::null();
    if (name == "OSProductSuite") value = Value::array({Value::integer(1)});
  }
  addObject(app.local, spec, second);
  connect();
  const GridControl& grid = *sheetView(spec.windowName)->grid();
  for (int k = 1; k <= rowCountOf(spec); ++k) {
    const std::string name = spec.rowNames[k - 1];
    const bool unreadable = name == "Organization" || name == "OSProductSuite";
    EXPECT_EQ(grid.TextAt(k, 1), (unreadable ? "first:" : "second:") + name) << name;
  }
  EXPECT_EQ(grid.Row(), rowCountOf(spec));
  EXPECT_EQ(grid.Col(), 1);
}

TEST_F(PropertySheetTest, NoObjectWritesTheLabelsAndEmptiesTheValues) {
  for (const SheetViewSpec* spec : kSheetSpecs)
    addObject(app.local, *spec, taggedValues(*spec, "old"));
  connect();
  for (const SheetViewSpec* spec : kSheetSpecs) {
    app.local.clearObjects(queriedClass(spec->query));
    SheetViewWindow* view = sheetView(spec->windowName);
    EXPECT_TRUE(refillShows(view)) << spec->windowName;
    expectLabels(*spec, *view->grid());
    expectValuesEmpty(*spec, *view->grid());
    EXPECT_EQ(view->grid()->Row(), rowCountOf(*spec));
    EXPECT_EQ(view->grid()->Col(), 1);
  }
  EXPECT_TRUE(app.messages.empty());
}

TEST_F(PropertySheetTest, FirstFillWithoutObjectsStillWritesTheLabels) {
  connect();
  for (const SheetViewSpec* spec : kSheetSpecs) {
    SheetViewWindow* view = sheetView(spec->windowName);
    expectLabels(*spec, *view->grid());
    expectValuesEmpty(*spec, *view->grid());
    EXPECT_EQ(view->grid()->columnWidth(0), twipsToPixels(3000));
    EXPECT_TRUE(view->subWindow()->isVisible());
  }
}

TEST_F(PropertySheetTest, FailedQueryWhileConnectedWritesLabelsAndNoValueWithoutAMessage) {
  for (const SheetViewSpec* spec : kSheetSpecs)
    addObject(app.local, *spec, taggedValues(*spec, "old"));
  connect();
  app.local.failures().query = ComError(err::kWbemAccessDenied, "Access denied ", "SWbemServices");
  for (const SheetViewSpec* spec : kSheetSpecs) {
    SheetViewWindow* view = sheetView(spec->windowName);
    EXPECT_TRUE(refillShows(view)) << spec->windowName;
    expectLabels(*spec, *view->grid());
    expectValuesEmpty(*spec, *view->grid());
  }
  EXPECT_TRUE(app.messages.empty());
}

TEST_F(PropertySheetTest, FirstFillAfterAFailedQueryStillWritesLabelsAndWidths) {
  app.local.failures().query = ComError(err::kWbemAccessDenied, "Access denied ", "SWbemServices");
  connect();
  for (const SheetViewSpec* spec : kSheetSpecs) {
    const GridControl& grid = *sheetView(spec->windowName)->grid();
    expectLabels(*spec, grid);
    expectValuesEmpty(*spec, grid);
    EXPECT_EQ(grid.columnWidth(0), twipsToPixels(spec->col0Width));
    EXPECT_EQ(grid.columnWidth(1), twipsToPixels(spec->col1Width));
    EXPECT_EQ(grid.Row(), rowCountOf(*spec));
    EXPECT_TRUE(sheetView(spec->windowName)->subWindow()->isVisible());
  }
}

TEST_F(PropertySheetTest, EnumerationFailingPartWayKeepsWhatTheObjectsBeforeWrote) {
  const SheetViewSpec& spec = frmComputerSystemSpec;
  addObject(app.local, spec, taggedValues(spec, "first"));
  addObject(app.local, spec, taggedValues(spec, "second"));
  app.local.failures().enumerateAfter = {
      1, ComError(err::kRpcServerUnavailable, "The RPC server is unavailable. ", "SWbemObjectSet")};
  connect();
  const GridControl& grid = *sheetView(spec.windowName)->grid();
  for (int k = 1; k <= rowCountOf(spec); ++k)
    EXPECT_EQ(grid.TextAt(k, 1), std::string("first:") + spec.rowNames[k - 1]) << k;
  EXPECT_TRUE(sheetView(spec.windowName)->subWindow()->isVisible());

  // A set whose first object cannot be fetched: labels, and no value at all.
  app.local.failures().enumerateAfter = {
      0, ComError(err::kRpcServerUnavailable, "The RPC server is unavailable. ", "SWbemObjectSet")};
  EXPECT_TRUE(refillShows(sheetView(spec.windowName)));
  expectLabels(spec, grid);
  expectValuesEmpty(spec, grid);
}

TEST_F(PropertySheetTest, WithoutAConnectionTheGridIsUntouchedAndTheWindowNotShown) {
  // Before any connect: the message, and the sheet as designed, empty.
  for (const SheetViewSpec* spec : kSheetSpecs) {
    SheetViewWindow* view = sheetView(spec->windowName);
    const auto before = cellsOf(*view->grid());
    const int width = view->grid()->columnWidth(1);
    view->ShowForm();
    EXPECT_EQ(cellsOf(*view->grid()), before) << spec->windowName;
    EXPECT_EQ(view->grid()->columnWidth(1), width) << spec->windowName;
    EXPECT_FALSE(view->subWindow()->isVisible()) << spec->windowName;
  }
  ASSERT_EQ(app.messages.size(), 2u);
  for (const auto& m : app.messages) {
    EXPECT_EQ(m.text, "Please CONNECT to Local or Remote computer first");
    EXPECT_EQ(m.title, "Connect please!");
  }

  // After a fill, with the connection gone: the filled sheet stays as it was.
  for (const SheetViewSpec* spec : kSheetSpecs)
    addObject(app.local, *spec, taggedValues(*spec, "one"));
  app.messages.clear();
  connect();
  app.main->WBEMServices.reset();
  app.messages.clear();
  for (const SheetViewSpec* spec : kSheetSpecs) {
    SheetViewWindow* view = sheetView(spec->windowName);
    const auto before = cellsOf(*view->grid());
    EXPECT_FALSE(refillShows(view)) << spec->windowName;
    EXPECT_EQ(cellsOf(*view->grid()), before) << spec->windowName;
  }
  EXPECT_EQ(app.messages.size(), 2u);
}

TEST_F(PropertySheetTest, ValueOfAnEarlierComputerNeverShowsBesideTheNextOnesValues) {
  for (const SheetViewSpec* spec : kSheetSpecs) {
    addObject(app.local, *spec, taggedValues(*spec, "near"));
    Properties far = taggedValues(*spec, "far");
    far[0].second = Value::null();
    far[1].second = Value::array({});
    far.erase(far.begin() + 2);  // left null by the scripted service too
    addObject(app.remote, *spec, far);
  }
  connect();
  ASSERT_TRUE(app.connectVia("far"));
  for (const SheetViewSpec* spec : kSheetSpecs) {
    const GridControl& grid = *sheetView(spec->windowName)->grid();
    for (int k = 1; k <= 3; ++k) EXPECT_EQ(grid.TextAt(k, 1), "") << spec->windowName << " " << k;
    for (int k = 4; k <= rowCountOf(*spec); ++k)
      EXPECT_EQ(grid.TextAt(k, 1), std::string("far:") + spec->rowNames[k - 1]) << k;
  }
}

}  // namespace
}  // namespace kestrava::testing
