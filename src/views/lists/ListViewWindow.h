#pragma once

#include "app/ViewWindow.h"
#include "platform/ListControl.h"
#include "viewtable/ListViewDef.h"

namespace kestrava {

// A view window that shows the instances of one class as a sortable list.
class ListViewWindow : public ViewWindow {
  Q_OBJECT
 public:
  ListViewWindow(MDIKestrava& main, const ListViewDef& viewDef);

  ListControl* list() const { return list_; }
  const ListViewDef& viewDef() const { return def_; }

 protected:
  void fill(std::optional<SWbemObjectSet>& set) override;

 private:
  const ListViewDef& def_;
  ListControl* list_;
};

}  // namespace kestrava
