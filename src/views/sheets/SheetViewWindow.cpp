#include "views/sheets/SheetViewWindow.h"

#include "platform/Twips.h"
#include "views/sheets/PropertySheet.h"

namespace kestrava {

SheetViewWindow::SheetViewWindow(MDIKestrava& main, const SheetViewSpec& viewSpec)
    : ViewWindow(main, viewSpec.windowName, viewSpec.caption, viewSpec.query),
      spec_(viewSpec),
      grid_(new GridControl(this)) {
  grid_->setObjectName(viewSpec.gridName);
  grid_->setAccessibleName(viewSpec.caption);
  grid_->setGeometry(twipsRect(0, 0, viewSpec.width, viewSpec.height));
  grid_->setRows(viewSpec.rows);
  grid_->setCols(viewSpec.cols);
  grid_->setFixedRows(viewSpec.fixedRows);
  grid_->setFixedCols(viewSpec.fixedCols);
}

void SheetViewWindow::fill(std::optional<SWbemObjectSet>& set) {
  fillSheet(*grid_, spec_, set);
  showView();
}

}  // namespace kestrava
