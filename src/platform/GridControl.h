#pragma once

#include <QTableWidget>
#include <string>
#include <string_view>

namespace kestrava {

// A grid of text cells: Rows by Cols, with the first FixedRows rows and FixedCols columns drawn
// as fixed (header-coloured, not selectable). Cells are written by making one current (Row, Col)
// and setting its Text.
class GridControl : public QTableWidget {
  Q_OBJECT
 public:
  explicit GridControl(QWidget* parent = nullptr);

  int Rows() const { return rowCount(); }
  void setRows(int rows);
  int Cols() const { return columnCount(); }
  void setCols(int cols);
  int FixedRows() const { return fixedRows_; }
  void setFixedRows(int rows);
  int FixedCols() const { return fixedCols_; }
  void setFixedCols(int cols);

  // Column width in twips.
  int ColWidth(int column) const;
  void setColWidth(int column, int twips);

  int Row() const { return row_; }
  void setRow(int row);
  int Col() const { return col_; }
  void setCol(int col);

  std::string Text() const { return TextAt(row_, col_); }
  void setText(std::string_view text);
  std::string TextAt(int row, int col) const;

 private:
  void styleFixedCells();
  int row_ = 0;
  int col_ = 0;
  int fixedRows_ = 0;
  int fixedCols_ = 0;
};

}  // namespace kestrava
