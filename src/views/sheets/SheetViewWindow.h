#pragma once

#include "app/ViewWindow.h"
#include "platform/GridControl.h"
#include "viewtable/SheetViewSpec.h"

namespace kestrava {

// A view window that shows one management object as a two-column property sheet.
class SheetViewWindow : public ViewWindow {
  Q_OBJECT
 public:
  SheetViewWindow(MDIKestrava& main, const SheetViewSpec& viewSpec);

  GridControl* grid() const { return grid_; }
  const SheetViewSpec& viewSpec() const { return spec_; }

 protected:
  void fill(std::optional<SWbemObjectSet>& set) override;

 private:
  const SheetViewSpec& spec_;
  GridControl* grid_;
};

}  // namespace kestrava
