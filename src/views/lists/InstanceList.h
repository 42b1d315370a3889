#pragma once

#include <optional>

#include "platform/ListControl.h"
#include "platform/SWbemObjectSet.h"
#include "viewtable/ListViewDef.h"

namespace kestrava {

// The list fill shared by every list view, in continue-on-error mode: clear the list, then one
// row per delivered object (key and text from the view's key and text properties, each sub-item
// one step of its own through the value-to-text rule). A row that cannot be added is dropped with
// all its values; a failed query leaves the list empty; a delivery that fails part way keeps the
// rows so far. Showing the window is the caller's last step.
void fillList(ListControl& list, const ListViewDef& viewDef, std::optional<SWbemObjectSet>& set);

// The header-click sort: flip the direction, sort, and sort by the clicked column (1-based).
void sortByHeader(ListControl& list, int headerIndex);

}  // namespace kestrava
