#include "platform/GridControl.h"

#include <QHeaderView>
#include <QPalette>

#include "core/ComError.h"
#include "platform/Twips.h"

namespace kestrava {

namespace {
[[noreturn]] void subscriptOutOfRange() {
  throw ComError(err::kSubscriptOutOfRange, "Subscript out of range", "MSFlexGrid");
}

[[noreturn]] void invalidPropertyValue() {
  throw ComError(err::kInvalidPropertyValue, "Invalid property value", "MSFlexGrid");
}
}  // namespace

GridControl::GridControl(QWidget* parent) : QTableWidget(parent) {
  horizontalHeader()->hide();
  verticalHeader()->hide();
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionMode(QAbstractItemView::SingleSelection);
  verticalHeader()->setDefaultSectionSize(twipsToPixels(240));
  horizontalHeader()->setDefaultSectionSize(twipsToPixels(960));
  setWordWrap(false);
  setAutoScroll(false);  // making a cell current does not scroll the grid
}

void GridControl::setRows(int rows) {
  if (rows < 0) invalidPropertyValue();
  setRowCount(rows);
  styleFixedCells();
}

void GridControl::setCols(int cols) {
  if (cols < 0) invalidPropertyValue();
  setColumnCount(cols);
  styleFixedCells();
}

void GridControl::setFixedRows(int rows) {
  if (rows < 0 || rows > rowCount()) invalidPropertyValue();
  fixedRows_ = rows;
  styleFixedCells();
}

void GridControl::setFixedCols(int cols) {
  if (cols < 0 || cols > columnCount()) invalidPropertyValue();
  fixedCols_ = cols;
  styleFixedCells();
}

int GridControl::ColWidth(int column) const {
  if (column < 0 || column >= columnCount()) subscriptOutOfRange();
  return columnWidth(column) * 1440 / std::max(1, twipsToPixels(1440));
}

void GridControl::setColWidth(int column, int twips) {
  if (column < 0 || column >= columnCount()) subscriptOutOfRange();
  setColumnWidth(column, twipsToPixels(twips));
}

void GridControl::setRow(int row) {
  if (row < 0 || row >= rowCount()) subscriptOutOfRange();
  row_ = row;
}

void GridControl::setCol(int col) {
  if (col < 0 || col >= columnCount()) subscriptOutOfRange();
  col_ = col;
  if (row_ >= fixedRows_ && col_ >= fixedCols_) setCurrentCell(row_, col_);
}

void GridControl::setText(std::string_view text) {
  if (row_ >= rowCount() || col_ >= columnCount()) subscriptOutOfRange();
  QTableWidgetItem* cell = item(row_, col_);
  if (!cell) {
    cell = new QTableWidgetItem;  // the table owns its items
    setItem(row_, col_, cell);
    styleFixedCells();
  }
  cell->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

std::string GridControl::TextAt(int row, int col) const {
  const QTableWidgetItem* cell = item(row, col);
  return cell ? cell->text().toStdString() : std::string();
}

void GridControl::styleFixedCells() {
  const QBrush fixed = palette().brush(QPalette::Button);
  for (int r = 0; r < rowCount(); ++r) {
    for (int c = 0; c < columnCount(); ++c) {
      if (r >= fixedRows_ && c >= fixedCols_) continue;
      QTableWidgetItem* cell = item(r, c);
      if (!cell) {
        cell = new QTableWidgetItem;
        setItem(r, c, cell);
      }
      cell->setBackground(fixed);
      cell->setFlags(Qt::ItemIsEnabled);
    }
  }
}

}  // namespace kestrava
