#include "views/Views.h"

#include "app/MDIKestrava.h"
#include "views/lists/ListViewWindow.h"
#include "views/services/frmServices.h"
#include "views/sheets/SheetViewWindow.h"

namespace kestrava {

void registerViews(MDIKestrava& main) {
  for (const ListViewSpec* viewSpec :
       {&frmProcessesSpec, &frmProcessorSpec, &frmLogicalDiskSpec, &frmEventLogFileSpec}) {
    main.registerView(viewSpec->windowName,
                      [viewSpec](MDIKestrava& m) { return new ListViewWindow(m, *viewSpec); });
  }
  main.registerView("frmServices", [](MDIKestrava& m) { return new frmServices(m); });
  for (const SheetViewSpec* viewSpec : {&frmComputerSystemSpec, &frmOperatingSystemSpec}) {
    main.registerView(viewSpec->windowName,
                      [viewSpec](MDIKestrava& m) { return new SheetViewWindow(m, *viewSpec); });
  }
}

}  // namespace kestrava
