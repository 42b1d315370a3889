#include "views/sheets/SheetViewWindow.h"

#include "platform/Twips.h"
#include "views/sheets/PropertySheet.h"

namespace kestrava {

SheetViewWindow::SheetViewWindow(MDIKestrava& main, const SheetViewDef& viewDef)
    : ViewWindow(main, viewDef.windowName, viewDef.caption, viewDef.query),
      def_(viewDef),
      grid_(new GridControl(this)) {
  grid_->setObjectName(viewDef.gridName);
  grid_->setAccessibleName(viewDef.caption);
  grid_->setGeometry(twipsRect(0, 0, viewDef.width, viewDef.height));
  grid_->setRows(viewDef.rows);
  grid_->setCols(viewDef.cols);
  grid_->setFixedRows(viewDef.fixedRows);
  grid_->setFixedCols(viewDef.fixedCols);
}

void SheetViewWindow::fill(std::optional<SWbemObjectSet>& set) {
  fillSheet(*grid_, def_, set);
  showView();
}

}  // namespace kestrava
