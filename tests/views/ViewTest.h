#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ListControl.h"
#include "support/AppHarness.h"
#include "views/lists/ListViewWindow.h"
#include "views/sheets/SheetViewWindow.h"
#include "viewtable/ViewTable.h"

namespace kestrava::testing {

using Row = std::vector<std::string>;
using Properties = std::vector<std::pair<std::string, Value>>;

// Every row of a list in display order: column 0 (the row text), then each sub-item.
std::vector<Row> rowsOf(ListControl& list);
// One column of a list in display order.
std::vector<std::string> columnOf(ListControl& list, int column);
// The column of a view whose header reads so; fails the test when there is none.
int columnHeaded(const ListViewDef& viewDef, std::string_view header);
// The list views of the table, the services list included, and its property sheets.
std::vector<const ListViewDef*> listDefs();
std::vector<const SheetViewDef*> sheetDefs();
// The management class that a view's query asks for.
std::string queriedClass(const char* query);

// The main window over two scripted computers that hold the seven view classes; the tests
// put objects in them and connect.
class ViewTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  ListViewWindow* listView(const char* windowName);
  SheetViewWindow* sheetView(const char* windowName);
  // Connects to the local computer; fails the test when the build does not run.
  void connect();
  // Hides a view, refills it and reports whether the refill showed it again.
  bool refillShows(ViewWindow* view);

  AppHarness app;
};

}  // namespace kestrava::testing
