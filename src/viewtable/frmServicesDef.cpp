#include "viewtable/ViewTable.h"

namespace kestrava {

const ListViewDef frmServicesDef{
    .windowName = "frmServices",
    .caption = "Services",
    .listName = "lvwService",
    .left = 0,
    .top = 1320,
    .width = 11055,
    .height = 6375,
    .query = "Select * From Win32_Service",
    .keyProperty = "Name",
    .textProperty = "Name",
    .columns =
        {
            {"Service Name", "Name"},
            {"Service Description", "Description"},
            {"Service State", "State"},
            {"AcceptStop", "AcceptStop"},
            {"AcceptPause", "AcceptPause"},
            {"Caption", "Caption"},
            {"CheckPoint", "CheckPoint"},
            {"CreationClassName", "CreationClassName"},
            {"DesktopInteract", "DesktopInteract"},
            {"DisplayName", "DisplayName"},
            {"ErrorControl", "ErrorControl"},
            {"ExitCode", "ExitCode"},
            {"InstallDate", "InstallDate"},
            {"PathName", "PathName"},
            {"ProcessID", "ProcessID"},
            {"StartMode", "StartMode"},
            {"StartName", "StartName"},
            {"State", "State"},
            {"Status", "Status"},
            {"SystemCreationClassName", "SystemCreationClassName"},
            {"SystemName", "SystemName"},
            {"TagID", "TagID"},
            {"WaitHint", "WaitHint"},
        },
};

}  // namespace kestrava
