#pragma once

#include <array>
#include <cstddef>
#include <iterator>
#include <string_view>
#include <variant>

#include "viewtable/ListViewDef.h"
#include "viewtable/SheetViewDef.h"

namespace kestrava {

// The window class that shows a view.
enum class ViewKind {
  List,      // the instances of a class as a sortable list
  Services,  // the services list with its four actions
  Sheet,     // one object as a two-column property sheet
};

// One view of the program: its entry in the main menu and the view itself. The window's name,
// caption and query are its declaration's own.
struct ViewRow {
  const char* menuEntry;    // the entry's name
  const char* menuCaption;  // "&" marks the access key
  ViewKind kind;
  std::variant<const ListViewDef*, const SheetViewDef*> def;
  int buildStep;  // 1 for the view that the build hides first and refills first

  const ListViewDef& list() const { return *std::get<const ListViewDef*>(def); }
  const SheetViewDef& sheet() const { return *std::get<const SheetViewDef*>(def); }
  const char* windowName() const {
    return std::visit([](const auto* s) { return s->windowName; }, def);
  }
  const char* caption() const {
    return std::visit([](const auto* s) { return s->caption; }, def);
  }
  const char* query() const {
    return std::visit([](const auto* s) { return s->query; }, def);
  }
};

// Each view's declaration, in a file of its own.
extern const ListViewDef frmServicesDef;
extern const ListViewDef frmProcessesDef;
extern const SheetViewDef frmComputerSystemDef;
extern const ListViewDef frmLogicalDiskDef;
extern const SheetViewDef frmOperatingSystemDef;
extern const ListViewDef frmProcessorDef;
extern const ListViewDef frmEventLogFileDef;

// The views in the order of their menu entries, which is also the order in which the load
// disables the entries and the build enables them.
inline constexpr ViewRow kViews[] = {
    {"Services", "&Services", ViewKind::Services, &frmServicesDef, 7},
    {"Processes", "&Processes", ViewKind::List, &frmProcessesDef, 5},
    {"ComputerSystem", "Comp&uter System", ViewKind::Sheet, &frmComputerSystemDef, 1},
    {"LogicalDisk", "&Logical Disk", ViewKind::List, &frmLogicalDiskDef, 3},
    {"OperatingSystem", "&Operating System", ViewKind::Sheet, &frmOperatingSystemDef, 4},
    {"Processor", "P&rocessor", ViewKind::List, &frmProcessorDef, 6},
    {"EventLog", "&EventLog", ViewKind::List, &frmEventLogFileDef, 2},
};

inline constexpr size_t kViewCount = std::size(kViews);

namespace detail {
constexpr bool everyBuildStepOnce() {
  std::array<int, kViewCount> seen{};
  for (const ViewRow& row : kViews) {
    if (row.buildStep < 1 || row.buildStep > static_cast<int>(kViewCount)) return false;
    if (seen[row.buildStep - 1]++) return false;
  }
  return true;
}

constexpr bool kindsMatchDefs() {
  for (const ViewRow& row : kViews)
    if ((row.kind == ViewKind::Sheet) != std::holds_alternative<const SheetViewDef*>(row.def))
      return false;
  return true;
}

constexpr std::array<const ViewRow*, kViewCount> inBuildOrder() {
  std::array<const ViewRow*, kViewCount> order{};
  for (const ViewRow& row : kViews) order[row.buildStep - 1] = &row;
  return order;
}
}  // namespace detail

static_assert(detail::everyBuildStepOnce(), "each build step belongs to exactly one view");
static_assert(detail::kindsMatchDefs(), "a sheet has a SheetViewDef, a list a ListViewDef");

// The views in the order the build hides them, and then refills them.
inline constexpr std::array<const ViewRow*, kViewCount> kViewBuildOrder = detail::inBuildOrder();

// The view shown in the window of that name; nullptr for a name that is no view's.
inline const ViewRow* findView(std::string_view windowName) {
  for (const ViewRow& row : kViews)
    if (windowName == row.windowName()) return &row;
  return nullptr;
}

}  // namespace kestrava
