#pragma once

#include "app/ViewWindow.h"
#include "platform/GridControl.h"
#include "viewtable/SheetViewDef.h"

namespace kestrava {

// A view window that shows one management object as a two-column property sheet.
class SheetViewWindow : public ViewWindow {
  Q_OBJECT
 public:
  SheetViewWindow(MDIKestrava& main, const SheetViewDef& viewDef);

  GridControl* grid() const { return grid_; }
  const SheetViewDef& viewDef() const { return def_; }

 protected:
  void fill(std::optional<SWbemObjectSet>& set) override;

 private:
  const SheetViewDef& def_;
  GridControl* grid_;
};

}  // namespace kestrava
