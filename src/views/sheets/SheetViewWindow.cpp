#include "views/sheets/SheetViewWindow.h"

#include "platform/Twips.h"
#include "views/sheets/PropertySheet.h"

namespace kestrava {

SheetViewWindow::SheetViewWindow(MDIKestrava& main, const SheetViewSpec& spec)
    : ViewWindow(main, spec.windowName, spec.caption, spec.query),
      spec_(spec),
      grid_(new GridControl(this)) {
  grid_->setObjectName(spec.gridName);
  grid_->setAccessibleName(spec.caption);
  grid_->setGeometry(twipsRect(0, 0, spec.width, spec.height));
  grid_->setRows(spec.rows);
  grid_->setCols(spec.cols);
  grid_->setFixedRows(spec.fixedRows);
  grid_->setFixedCols(spec.fixedCols);
}

void SheetViewWindow::fill(std::optional<SWbemObjectSet>& set) {
  fillSheet(*grid_, spec_, set);
  showView();
}

}  // namespace kestrava
