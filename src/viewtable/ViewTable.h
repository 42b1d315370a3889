#pragma once

#include <array>
#include <cstddef>
#include <iterator>
#include <string_view>
#include <variant>

#include "viewtable/ListViewSpec.h"
#include "viewtable/SheetViewSpec.h"

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
  std::variant<const ListViewSpec*, const SheetViewSpec*> spec;
  int buildStep;  // 1 for the view that the build hides first and refills first

  const ListViewSpec& list() const { return *std::get<const ListViewSpec*>(spec); }
  const SheetViewSpec& sheet() const { return *std::get<const SheetViewSpec*>(spec); }
  const char* windowName() const {
    return std::visit([](const auto* s) { return s->windowName; }, spec);
  }
  const char* caption() const {
    return std::visit([](const auto* s) { return s->caption; }, spec);
  }
  const char* query() const {
    return std::visit([](const auto* s) { return s->query; }, spec);
  }
};

// Each view's declaration, in a file of its own.
extern const ListViewSpec frmServicesSpec;
extern const ListViewSpec frmProcessesSpec;
extern const SheetViewSpec frmComputerSystemSpec;
extern const ListViewSpec frmLogicalDiskSpec;
extern const SheetViewSpec frmOperatingSystemSpec;
extern const ListViewSpec frmProcessorSpec;
extern const ListViewSpec frmEventLogFileSpec;

// The views in the order of their menu entries, which is also the order in which the load
// disables the entries and the build enables them.
inline constexpr ViewRow kViews[] = {
    {"Services", "&Services", ViewKind::Services, &frmServicesSpec, 7},
    {"Processes", "&Processes", ViewKind::List, &frmProcessesSpec, 5},
    {"ComputerSystem", "Comp&uter System", ViewKind::Sheet, &frmComputerSystemSpec, 1},
    {"LogicalDisk", "&Logical Disk", ViewKind::List, &frmLogicalDiskSpec, 3},
    {"OperatingSystem", "&Operating System", ViewKind::Sheet, &frmOperatingSystemSpec, 4},
    {"Processor", "P&rocessor", ViewKind::List, &frmProcessorSpec, 6},
    {"EventLog", "&EventLog", ViewKind::List, &frmEventLogFileSpec, 2},
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

constexpr bool kindsMatchSpecs() {
  for (const ViewRow& row : kViews)
    if ((row.kind == ViewKind::Sheet) != std::holds_alternative<const SheetViewSpec*>(row.spec))
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
static_assert(detail::kindsMatchSpecs(), "a sheet has a SheetViewSpec, a list a ListViewSpec");

// The views in the order the build hides them, and then refills them.
inline constexpr std::array<const ViewRow*, kViewCount> kViewBuildOrder = detail::inBuildOrder();

// The view shown in the window of that name; nullptr for a name that is no view's.
inline const ViewRow* findView(std::string_view windowName) {
  for (const ViewRow& row : kViews)
    if (windowName == row.windowName()) return &row;
  return nullptr;
}

}  // namespace kestrava
