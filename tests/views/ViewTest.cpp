#include "views/ViewTest.h"

#include <QMdiSubWindow>

#include "app/ViewWindow.h"
#include "platform/Err.h"

namespace kestrava::testing {

std::vector<Row> rowsOf(ListControl& list) {
  std::vector<Row> rows;
  auto items = list.ListItems();
  const int columns = list.model().columnCount();
  for (int i = 1; i <= items.Count(); ++i) {
    Row row;
    ListItem item = items.Item(i);
    for (int c = 0; c < columns; ++c) row.push_back(item.SubItems(c));
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<std::string> columnOf(ListControl& list, int column) {
  std::vector<std::string> texts;
  for (const auto& row : rowsOf(list)) texts.push_back(row.at(column));
  return texts;
}

int columnHeaded(const ListViewDef& viewDef, std::string_view header) {
  for (size_t i = 0; i < viewDef.columns.size(); ++i)
    if (header == viewDef.columns[i].header) return static_cast<int>(i);
  ADD_FAILURE() << "no column headed " << header << " in " << viewDef.windowName;
  return 0;
}

std::vector<const ListViewDef*> listDefs() {
  std::vector<const ListViewDef*> defs;
  for (const ViewRow& row : kViews)
    if (row.kind != ViewKind::Sheet) defs.push_back(&row.list());
  return defs;
}

std::vector<const SheetViewDef*> sheetDefs() {
  std::vector<const SheetViewDef*> defs;
  for (const ViewRow& row : kViews)
    if (row.kind == ViewKind::Sheet) defs.push_back(&row.sheet());
  return defs;
}

std::string queriedClass(const char* query) {
  const std::string q(query);
  return q.substr(q.rfind(' ') + 1);
}

void ViewTest::SetUp() {
  addViewClasses(app.local);
  addViewClasses(app.remote);
  app.load();
}

void ViewTest::TearDown() {
  Err().clear();
}

ListViewWindow* ViewTest::listView(const char* windowName) {
  auto* view = qobject_cast<ListViewWindow*>(app.main->view(windowName));
  EXPECT_NE(view, nullptr) << windowName;
  return view;
}

SheetViewWindow* ViewTest::sheetView(const char* windowName) {
  auto* view = qobject_cast<SheetViewWindow*>(app.main->view(windowName));
  EXPECT_NE(view, nullptr) << windowName;
  return view;
}

void ViewTest::connect() {
  ASSERT_TRUE(app.connectVia(""));
  ASSERT_TRUE(app.messages.empty());
}

bool ViewTest::refillShows(ViewWindow* view) {
  view->hideView();
  if (view->subWindow()->isVisible()) return false;
  view->ShowForm();
  AppHarness::processEvents();
  return view->subWindow()->isVisible();
}

}  // namespace kestrava::testing
