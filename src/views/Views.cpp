#include "views/Views.h"

#include "app/MDIKestrava.h"
#include "views/lists/ListViewWindow.h"
#include "views/services/frmServices.h"
#include "views/sheets/SheetViewWindow.h"

namespace kestrava {

void registerViews(MDIKestrava& main) {
  for (const ListViewSpec* spec :
       {&frmProcessesSpec, &frmProcessorSpec, &frmLogicalDiskSpec, &frmEventLogFileSpec}) {
    main.registerView(spec->windowName,
                      [spec](MDIKestrava& m) { return new ListViewWindow(m, *spec); });
  }
  main.registerView("frmServices", [](MDIKestrava& m) { return new frmServices(m); });
  for (const SheetViewSpec* spec : {&frmComputerSystemSpec, &frmOperatingSystemSpec}) {
    main.registerView(spec->windowName,
                      [spec](MDIKestrava& m) { return new SheetViewWindow(m, *spec); });
  }
}

}  // namespace kestrava
