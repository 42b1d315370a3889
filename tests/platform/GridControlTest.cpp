#include <gtest/gtest.h>

#include <QApplication>
#include <QScrollBar>
#include <functional>

#include "core/ComError.h"
#include "platform/GridControl.h"
#include "platform/Twips.h"

namespace kestrava {
namespace {

int errorOf(const std::function<void()>& statement) {
  try {
    statement();
  } catch (const ComError& e) {
    return e.number();
  }
  return 0;
}

class GridControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    grid.setRows(4);
    grid.setCols(2);
    grid.setFixedRows(1);
    grid.setFixedCols(0);
  }
  GridControl grid;
};

TEST_F(GridControlTest, TextGoesToTheCurrentCellOnly) {
  grid.setRow(2);
  grid.setCol(1);
  grid.setText("value");
  grid.setCol(0);
  grid.setText("label");
  EXPECT_EQ(grid.TextAt(2, 1), "value");
  EXPECT_EQ(grid.TextAt(2, 0), "label");
  EXPECT_EQ(grid.Text(), "label");
  EXPECT_EQ(grid.TextAt(1, 1), "");
  EXPECT_EQ(grid.TextAt(3, 0), "");
  grid.setText("");
  EXPECT_EQ(grid.TextAt(2, 0), "") << "an empty text empties the cell";
}

TEST_F(GridControlTest, CellOutsideTheGridFailsAndLeavesTheCurrentCell) {
  grid.setRow(3);
  grid.setCol(1);
  const std::vector<std::pair<const char*, std::function<void()>>> cases = {
      {"row -1", [&] { grid.setRow(-1); }},
      {"row past the last", [&] { grid.setRow(4); }},
      {"col past the last", [&] { grid.setCol(2); }},
      {"width of a missing column", [&] { (void)grid.ColWidth(2); }},
      {"set width of a missing column", [&] { grid.setColWidth(-1, 100); }},
  };
  for (const auto& [what, statement] : cases) EXPECT_EQ(errorOf(statement), 381) << what;
  EXPECT_EQ(grid.Row(), 3);
  EXPECT_EQ(grid.Col(), 1);
}

TEST_F(GridControlTest, InvalidShapeFailsWith380) {
  EXPECT_EQ(errorOf([&] { grid.setRows(-1); }), 380);
  EXPECT_EQ(errorOf([&] { grid.setCols(-2); }), 380);
  EXPECT_EQ(errorOf([&] { grid.setFixedRows(5); }), 380);
  EXPECT_EQ(errorOf([&] { grid.setFixedCols(3); }), 380);
  EXPECT_EQ(grid.Rows(), 4);
  EXPECT_EQ(grid.FixedRows(), 1);
}

TEST_F(GridControlTest, FixedRowIsNeitherSelectableNorMadeCurrent) {
  grid.setRow(2);
  grid.setCol(1);
  ASSERT_EQ(grid.currentRow(), 2);
  grid.setRow(0);
  grid.setCol(0);
  EXPECT_EQ(grid.currentRow(), 2) << "a fixed cell never becomes the selected cell";
  EXPECT_EQ(grid.Row(), 0);
  for (int c = 0; c < 2; ++c) {
    ASSERT_NE(grid.item(0, c), nullptr);
    EXPECT_FALSE(grid.item(0, c)->flags().testFlag(Qt::ItemIsSelectable)) << c;
  }
  // Fixed cells can still be written, as any cell can.
  grid.setText("header");
  EXPECT_EQ(grid.TextAt(0, 0), "header");
}

TEST_F(GridControlTest, ColumnWidthIsSetInTwips) {
  grid.setColWidth(0, 3000);
  grid.setColWidth(1, 2000);
  EXPECT_EQ(grid.columnWidth(0), twipsToPixels(3000));
  EXPECT_EQ(grid.columnWidth(1), twipsToPixels(2000));
  // Read back, a width is whole pixels: within one pixel's twips of what was set.
  const int pixelTwips = 1440 / std::max(1, twipsToPixels(1440)) + 1;
  EXPECT_NEAR(grid.ColWidth(0), 3000, pixelTwips);
  EXPECT_NEAR(grid.ColWidth(1), 2000, pixelTwips);
}

TEST_F(GridControlTest, MakingALowCellCurrentDoesNotScrollTheSheet) {
  grid.setRows(60);
  grid.resize(300, 200);
  grid.show();
  QApplication::processEvents();
  ASSERT_GT(grid.verticalScrollBar()->maximum(), 0);
  for (int k = 1; k < 60; ++k) {
    grid.setRow(k);
    grid.setCol(1);
    grid.setText(std::to_string(k));
  }
  QApplication::processEvents();
  EXPECT_EQ(grid.currentRow(), 59);
  EXPECT_EQ(grid.verticalScrollBar()->value(), 0);
}

}  // namespace
}  // namespace kestrava
