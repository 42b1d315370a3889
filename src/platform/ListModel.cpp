#include "platform/ListModel.h"

#include <QCollator>
#include <QFont>
#include <QLocale>
#include <QMetaObject>
#include <algorithm>
#include <numeric>

#include "core/ComError.h"

namespace kestrava {

namespace {
[[noreturn]] void indexOutOfBounds() {
  throw ComError(err::kIndexOutOfBounds, "Index out of bounds", "ListView");
}
}  // namespace

ListModel::ListModel(QStringList headers, QObject* parent)
    : QAbstractTableModel(parent), headers_(std::move(headers)) {}

int ListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : exposed_;
}

int ListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(headers_.size());
}

QVariant ListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= exposed_) return {};
  const Row& r = rows_[order_[index.row()]];
  if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) {
    RowId id = base_ + order_[index.row()];
    auto text = cell(id, index.column());
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  }
  if (role == Qt::FontRole && index.column() == 0 && r.bold) {
    QFont font;
    font.setBold(true);
    return font;
  }
  return {};
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= headers_.size()) return {};
  if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) return headers_[section];
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

void ListModel::clear() {
  beginResetModel();
  base_ += rows_.size() + 1;
  rows_.clear();
  keys_.clear();
  order_.clear();
  position_.clear();
  exposed_ = 0;
  dirty_ = false;
  resortPending_ = false;
  endResetModel();
}

ListModel::RowId ListModel::add(std::string key, std::string text) {
  const auto index = static_cast<uint32_t>(rows_.size());
  if (!keys_.emplace(key, index).second)
    throw ComError(err::kKeyNotUnique, "Key is not unique in collection", "ListView");
  Row r;
  r.key = std::move(key);
  r.text = std::move(text);
  r.ends.assign(std::max(0, static_cast<int>(headers_.size()) - 1), 0);
  rows_.push_back(std::move(r));
  dirty_ = true;
  scheduleFlush();
  return base_ + index;
}

bool ListModel::exists(RowId id) const {
  return id >= base_ && id - base_ < rows_.size();
}

ListModel::Row& ListModel::row(RowId id) {
  if (!exists(id)) indexOutOfBounds();
  return rows_[id - base_];
}
const ListModel::Row& ListModel::row(RowId id) const {
  if (!exists(id)) indexOutOfBounds();
  return rows_[id - base_];
}

std::string_view ListModel::text(RowId id) const {
  return row(id).text;
}

std::string_view ListModel::cell(RowId id, int column) const {
  const Row& r = row(id);
  if (column == 0) return r.text;
  if (column < 1 || column > static_cast<int>(r.ends.size())) return {};
  uint32_t begin = column == 1 ? 0 : r.ends[column - 2];
  return std::string_view(r.cells).substr(begin, r.ends[column - 1] - begin);
}

void ListModel::setCell(RowId id, int column, std::string_view text) {
  Row& r = row(id);
  if (column < 1 || column > static_cast<int>(r.ends.size())) indexOutOfBounds();
  uint32_t begin = column == 1 ? 0 : r.ends[column - 2];
  uint32_t oldLength = r.ends[column - 1] - begin;
  r.cells.replace(begin, oldLength, text);
  const auto delta = static_cast<int64_t>(text.size()) - oldLength;
  for (size_t i = column - 1; i < r.ends.size(); ++i)
    r.ends[i] = static_cast<uint32_t>(r.ends[i] + delta);
  notifyChanged(id, column, {});
}

bool ListModel::bold(RowId id) const {
  return row(id).bold;
}

void ListModel::setBold(RowId id, bool bold) {
  row(id).bold = bold;
  notifyChanged(id, 0, {Qt::FontRole});
}

void ListModel::notifyChanged(RowId id, int column, const QList<int>& roles) {
  // Rows not yet handed to the view reach it with the next flush.
  const uint32_t at = static_cast<uint32_t>(id - base_);
  if (at < position_.size() && position_[at] < static_cast<uint32_t>(exposed_)) {
    auto idx = index(static_cast<int>(position_[at]), column);
    emit dataChanged(idx, idx, roles);
  }
}

ListModel::RowId ListModel::idAt(int displayRow) {
  flush();
  if (displayRow < 0 || displayRow >= exposed_) indexOutOfBounds();
  return base_ + order_[displayRow];
}

std::optional<ListModel::RowId> ListModel::findText(std::string_view text) {
  flush();
  for (uint32_t index : order_)
    if (rows_[index].text == text) return base_ + index;
  return std::nullopt;
}

void ListModel::setSorting(bool sorted, int sortKey, int sortOrder) {
  sorted_ = sorted;
  sortKey_ = sortKey;
  sortOrder_ = sortOrder;
  // One header click sets three properties; the rows are ordered once, when next shown or read.
  if (sorted_) {
    resortPending_ = true;
    scheduleFlush();
  }
}

void ListModel::flush() {
  if (dirty_) {
    dirty_ = false;
    resortPending_ = false;
    beginResetModel();
    exposed_ = static_cast<int>(rows_.size());
    if (sorted_) {
      order_ = sortedOrder();
    } else {
      order_.resize(rows_.size());
      std::iota(order_.begin(), order_.end(), 0u);
    }
    rebuildPositions();
    endResetModel();
  } else if (resortPending_) {
    resortPending_ = false;
    resort();
  }
}

void ListModel::resort() {
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList before = persistentIndexList();
  std::vector<uint32_t> held;
  held.reserve(before.size());
  for (const auto& idx : before) held.push_back(order_[idx.row()]);
  order_ = sortedOrder();
  rebuildPositions();
  QModelIndexList after;
  for (size_t i = 0; i < held.size(); ++i)
    after.push_back(index(static_cast<int>(position_[held[i]]), before[i].column()));
  changePersistentIndexList(before, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void ListModel::scheduleFlush() {
  if (flushQueued_) return;
  flushQueued_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        flushQueued_ = false;
        flush();
      },
      Qt::QueuedConnection);
}

std::vector<uint32_t> ListModel::sortedOrder() const {
  // Natural order: runs of digits compare by value, other text without regard to case. The C
  // locale has no collation (Qt then compares code units and ignores both settings), so it
  // sorts by the root order, which English shares.
  QLocale locale;
  if (locale.language() == QLocale::C) locale = QLocale(QLocale::English);
  QCollator collator(locale);
  collator.setNumericMode(true);
  collator.setCaseSensitivity(Qt::CaseInsensitive);
  std::vector<QCollatorSortKey> keys;
  keys.reserve(rows_.size());
  for (size_t i = 0; i < rows_.size(); ++i) {
    auto text = cell(base_ + i, sortKey_);
    keys.push_back(
        collator.sortKey(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))));
  }
  std::vector<uint32_t> order(rows_.size());
  std::iota(order.begin(), order.end(), 0u);
  const bool descending = sortOrder_ == 1;
  std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    return descending ? keys[b].compare(keys[a]) < 0 : keys[a].compare(keys[b]) < 0;
  });
  return order;
}

void ListModel::rebuildPositions() {
  position_.assign(order_.size(), 0);
  for (size_t i = 0; i < order_.size(); ++i) position_[order_[i]] = static_cast<uint32_t>(i);
}

}  // namespace kestrava
