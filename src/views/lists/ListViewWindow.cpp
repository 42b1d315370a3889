#include "views/lists/ListViewWindow.h"

#include "platform/Twips.h"
#include "views/lists/InstanceList.h"

namespace kestrava {

namespace {
QStringList headersOf(const ListViewSpec& viewSpec) {
  QStringList headers;
  for (const auto& column : viewSpec.columns) headers << column.header;
  return headers;
}
}  // namespace

ListViewWindow::ListViewWindow(MDIKestrava& main, const ListViewSpec& viewSpec)
    : ViewWindow(main, viewSpec.windowName, viewSpec.caption, viewSpec.query),
      spec_(viewSpec),
      list_(new ListControl(headersOf(viewSpec), this)) {
  list_->setObjectName(viewSpec.listName);
  list_->setAccessibleName(viewSpec.caption);
  list_->setGeometry(twipsRect(viewSpec.left, viewSpec.top, viewSpec.width, viewSpec.height));
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
