#pragma once

#include <QPointer>
#include <QStringList>
#include <QTreeView>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ListModel.h"

namespace kestrava {

class ListControl;

// A reference to one row of a list, or to no row ("Nothing"). Reading a member of no row fails
// with 91; a row removed by a clear fails with 35600 and never stands for another row.
class ListItem {
 public:
  ListItem() = default;
  ListItem(ListControl* list, ListModel::RowId id) : list_(list), id_(id) {}

  bool isNothing() const { return list_.isNull(); }
  // True while the row is still one of its list's rows.
  bool exists() const;

  std::string Text() const;
  std::string SubItems(int column) const;
  void setSubItems(int column, std::string_view text) const;
  bool Bold() const;
  void setBold(bool bold) const;

  friend bool operator==(const ListItem& a, const ListItem& b) {
    return a.list_ == b.list_ && (a.list_.isNull() || a.id_ == b.id_);
  }

 private:
  ListModel& model() const;
  QPointer<ListControl> list_;
  ListModel::RowId id_ = 0;
};

// A list control in report view: fixed column headers, rows with a unique key, a text and
// sub-item texts, one selected row, a header-click event and text sorting.
class ListControl : public QTreeView {
  Q_OBJECT
 public:
  // Headers are fixed with the window: text, one inch wide, left-aligned.
  explicit ListControl(const QStringList& headers, QWidget* parent = nullptr);

  class Items {
   public:
    explicit Items(ListControl& list) : list_(list) {}
    void Clear() const;
    ListItem Add(std::string key, std::string text) const;  // duplicate key: 35602
    int Count() const;
    ListItem Item(int index) const;  // 1-based, in display order
   private:
    ListControl& list_;
  };
  Items ListItems() { return Items(*this); }

  ListItem SelectedItem();
  // The first row, in display order, whose whole text is the given text; Nothing if none.
  ListItem FindItem(std::string_view text);

  int SortOrder() const { return sortOrder_; }
  void setSortOrder(int order);
  bool Sorted() const { return sorted_; }
  void setSorted(bool sorted);
  int SortKey() const { return sortKey_; }
  void setSortKey(int key);

  ListModel& model() { return model_; }
  // Hands pending rows to the view now (they are otherwise handed over after the handler).
  void flush() { model_.flush(); }

 signals:
  // A column header was clicked; index is 1-based.
  void ColumnClick(int index);

 private:
  void applySorting();

  ListModel model_;
  bool sorted_ = false;
  int sortKey_ = 0;
  int sortOrder_ = 0;
};

}  // namespace kestrava
