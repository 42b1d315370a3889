#include "views/lists/ListViewWindow.h"

#include "platform/Twips.h"
#include "views/lists/InstanceList.h"

namespace kestrava {

namespace {
QStringList headersOf(const ListViewSpec& spec) {
  QStringList headers;
  for (const auto& column : spec.columns) headers << column.header;
  return headers;
}
}  // namespace

ListViewWindow::ListViewWindow(MDIKestrava& main, const ListViewSpec& spec)
    : ViewWindow(main, spec.windowName, spec.caption, spec.query),
      spec_(spec),
      list_(new ListControl(headersOf(spec), this)) {
  list_->setObjectName(spec.listName);
  list_->setAccessibleName(spec.caption);
  list_->setGeometry(twipsRect(spec.left, spec.top, spec.width, spec.height));
  // The first click on a header sorts ascending.
  list_->setSortOrder(1);
  connect(list_, &ListControl::ColumnClick, this,
          [this](int index) { sortByHeader(*list_, index); });
}

void ListViewWindow::fill(std::optional<SWbemObjectSet>& set) {
  fillList(*list_, spec_, set);
  showView();
}

}  // namespace kestrava
