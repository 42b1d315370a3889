#pragma once

#include "app/ViewWindow.h"
#include "platform/ListControl.h"
#include "viewtable/ListViewSpec.h"

namespace kestrava {

// A view window that shows the instances of one class as a sortable list.
class ListViewWindow : public ViewWindow {
  Q_OBJECT
 public:
  ListViewWindow(MDIKestrava& main, const ListViewSpec& viewSpec);

  ListControl* list() const { return list_; }
  const ListViewSpec& viewSpec() const { return spec_; }

 protected:
  void fill(std::optional<SWbemObjectSet>& set) override;

 private:
  const ListViewSpec& spec_;
  ListControl* list_;
};

}  // namespace kestrava
