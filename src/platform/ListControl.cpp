#include "platform/ListControl.h"

#include <QHeaderView>

#include "core/ComError.h"
#include "platform/Twips.h"

namespace kestrava {

namespace {
ComError invalidPropertyValue() {
  return ComError(err::kInvalidPropertyValue, "Invalid property value", "ListView");
}
}  // namespace

bool ListItem::exists() const {
  return !list_.isNull() && list_->model().exists(id_);
}

ListModel& ListItem::model() const {
  if (list_.isNull()) throw objectNotSet();
  return list_->model();
}

std::string ListItem::Text() const {
  return std::string(model().text(id_));
}
std::string ListItem::SubItems(int column) const {
  return std::string(model().cell(id_, column));
}
void ListItem::setSubItems(int column, std::string_view text) const {
  model().setCell(id_, column, text);
}
bool ListItem::Bold() const {
  return model().bold(id_);
}
void ListItem::setBold(bool bold) const {
  model().setBold(id_, bold);
}

ListControl::ListControl(const QStringList& headers, QWidget* parent)
    : QTreeView(parent), model_(headers) {
  setModel(&model_);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setAllColumnsShowFocus(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSortingEnabled(false);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  QHeaderView* h = header();
  h->setStretchLastSection(false);
  h->setSectionsMovable(false);
  h->setSectionsClickable(true);
  h->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  h->setMinimumSectionSize(1);
  h->setDefaultSectionSize(twipsToPixels(1440));
  for (int i = 0; i < headers.size(); ++i) h->resizeSection(i, twipsToPixels(1440));
  connect(h, &QHeaderView::sectionClicked, this,
          [this](int logical) { emit ColumnClick(logical + 1); });
}

void ListControl::Items::Clear() const {
  list_.model_.clear();
}

ListItem ListControl::Items::Add(std::string key, std::string text) const {
  return ListItem(&list_, list_.model_.add(std::move(key), std::move(text)));
}

int ListControl::Items::Count() const {
  return static_cast<int>(list_.model_.size());
}

ListItem ListControl::Items::Item(int index) const {
  return ListItem(&list_, list_.model_.idAt(index - 1));
}

ListItem ListControl::SelectedItem() {
  model_.flush();
  const auto rows = selectionModel()->selectedRows();
  if (rows.isEmpty()) return {};
  return ListItem(this, model_.idAt(rows.first().row()));
}

ListItem ListControl::FindItem(std::string_view text) {
  auto id = model_.findText(text);
  return id ? ListItem(this, *id) : ListItem();
}

void ListControl::setSortOrder(int order) {
  if (order != 0 && order != 1) throw invalidPropertyValue();
  sortOrder_ = order;
  applySorting();
}

void ListControl::setSorted(bool sorted) {
  sorted_ = sorted;
  applySorting();
}

void ListControl::setSortKey(int key) {
  if (key < -32768 || key > 32767) throw ComError(err::kOverflow, "Overflow", "ListView");
  if (key < 0) throw invalidPropertyValue();
  sortKey_ = key;
  applySorting();
}

void ListControl::applySorting() {
  model_.setSorting(sorted_, sortKey_, sortOrder_);
  header()->setSortIndicatorShown(sorted_);
  if (sorted_)
    header()->setSortIndicator(sortKey_,
                               sortOrder_ == 0 ? Qt::AscendingOrder : Qt::DescendingOrder);
}

}  // namespace kestrava
