#include "views/lists/ListViewWindow.h"

#include "platform/Twips.h"
#include "views/lists/InstanceList.h"

namespace kestrava {

namespace {
QStringList headersOf(const ListViewDef& viewDef) {
  QStringList headers;
  for (const auto& column : viewDef.columns) headers << column.header;
  return headers;
}
}  // namespace

ListViewWindow::ListViewWindow(MDIKestrava& main, const ListViewDef& viewDef)
    : ViewWindow(main, viewDef.windowName, viewDef.caption, viewDef.query),
      def_(viewDef),
      list_(new ListControl(headersOf(viewDef), this)) {
  list_->setObjectName(viewDef.listName);
  list_->setAccessibleName(viewDef.caption);
  list_->setGeometry(twipsRect(viewDef.left, viewDef.top, viewDef.width, viewDef.height));
  // The first click on a header sorts ascending.
  list_->setSortOrder(1);
  connect(list_, &ListControl::ColumnClick, this,
          [this](int index) { sortByHeader(*list_, index); });
}

void ListViewWindow::fill(std::optional<SWbemObjectSet>& set) {
  fillList(*list_, def_, set);
  showView();
}

}  // namespace kestrava
