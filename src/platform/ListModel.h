#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kestrava {

// The rows of a report-view list. Rows keep the order in which they were added; a permutation
// gives the display order when the list is sorted. Cell texts are held as UTF-8, packed per row,
// so a list of 100,000 rows by 42 columns stays compact. Rows added during one event handler
// reach the view in one batch, when the handler has returned or when the list is next read.
class ListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  using RowId = uint64_t;

  explicit ListModel(QStringList headers, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Rows by insertion identity. An id stays valid until the next clear.
  void clear();
  RowId add(std::string key, std::string text);  // throws ComError 35602 on a duplicate key
  bool exists(RowId id) const;
  size_t size() const { return rows_.size(); }

  std::string_view text(RowId id) const;
  std::string_view cell(RowId id, int column) const;          // column 0 is the row text
  void setCell(RowId id, int column, std::string_view text);  // column >= 1
  bool bold(RowId id) const;
  void setBold(RowId id, bool bold);

  // Display order; flushes pending rows first.
  RowId idAt(int displayRow);
  std::optional<RowId> findText(std::string_view text);

  // Sorting: while sorted, rows are ordered by the text of sortKey, 0 ascending, 1 descending.
  void setSorting(bool sorted, int sortKey, int sortOrder);

  // Hands rows added since the last flush to the view, sorted if sorting is on.
  void flush();

 private:
  struct Row {
    std::string key;
    std::string text;
    std::string cells;           // columns 1..n-1, packed
    std::vector<uint32_t> ends;  // end offset of each packed cell
    bool bold = false;
  };

  Row& row(RowId id);
  const Row& row(RowId id) const;
  void scheduleFlush();
  std::vector<uint32_t> sortedOrder() const;
  void rebuildPositions();
  void resort();
  void notifyChanged(RowId id, int column, const QList<int>& roles);

  QStringList headers_;
  std::vector<Row> rows_;
  std::unordered_map<std::string, uint32_t> keys_;
  std::vector<uint32_t> order_;     // display row -> insertion index
  std::vector<uint32_t> position_;  // insertion index -> display row
  int exposed_ = 0;                 // rows the view knows of
  RowId base_ = 0;                  // id of insertion index 0 since the last clear
  bool dirty_ = false;
  bool resortPending_ = false;
  bool flushQueued_ = false;
  bool sorted_ = false;
  int sortKey_ = 0;
  int sortOrder_ = 0;
};

}  // namespace kestrava
