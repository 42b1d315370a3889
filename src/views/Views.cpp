#include "views/Views.h"

#include "app/MDIKestrava.h"
#include "views/lists/ListViewWindow.h"
#include "views/services/frmServices.h"
#include "views/sheets/SheetViewWindow.h"
#include "viewtable/ViewTable.h"

namespace kestrava {

ViewWindow* makeViewWindow(MDIKestrava& main, const ViewRow& row) {
  switch (row.kind) {
    case ViewKind::List:
      return new ListViewWindow(main, row.list());
    case ViewKind::Services:
      return new frmServices(main, row.list());
    case ViewKind::Sheet:
      return new SheetViewWindow(main, row.sheet());
  }
  return nullptr;
}

}  // namespace kestrava
