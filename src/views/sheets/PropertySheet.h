#pragma once

#include <optional>

#include "platform/GridControl.h"
#include "platform/SWbemObjectSet.h"
#include "viewtable/SheetViewDef.h"

namespace kestrava {

// The property sheet fill shared by both sheet views, in continue-on-error mode. For each
// delivered object: the column widths, then for each row its label and its value, each cell one
// step of its own. Every value cell is emptied when the fill first reaches that block, so a value
// that cannot be read never shows what an earlier fill (or computer) left there. Without objects
// to show (a failed query, an empty result, an enumeration that cannot start) the block runs
// once with no object: labels written, values empty. Showing the window is the caller's step.
void fillSheet(GridControl& grid, const SheetViewDef& viewDef, std::optional<SWbemObjectSet>& set);

}  // namespace kestrava
