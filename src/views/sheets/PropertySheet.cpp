#include "views/sheets/PropertySheet.h"

#include "platform/Err.h"
#include "platform/ValueText.h"

namespace kestrava {

namespace {

void clearValues(GridControl& grid, const SheetViewDef& viewDef) {
  for (int k = 1; k <= static_cast<int>(viewDef.rowNames.size()); ++k) {
    Err().step([&] { grid.setRow(k); });
    Err().step([&] { grid.setCol(1); });
    Err().step([&] { grid.setText(""); });
  }
}

void perObjectBlock(GridControl& grid, const SheetViewDef& viewDef, const SWbemObject* object) {
  Err().step([&] { grid.setColWidth(0, viewDef.col0Width); });
  Err().step([&] { grid.setColWidth(1, viewDef.col1Width); });
  std::string text;
  for (int k = 1; k <= static_cast<int>(viewDef.rowNames.size()); ++k) {
    const char* name = viewDef.rowNames[k - 1];
    Err().step([&] { grid.setRow(k); });
    Err().step([&] { grid.setCol(0); });
    Err().step([&] { grid.setText(name); });
    Err().step([&] { grid.setCol(1); });
    Err().step([&] {
      if (!object) throw objectNotSet();
      if (auto failure = cellTextRefusingNull(object->Property(name), text)) throw *failure;
      grid.setText(text);
    });
  }
}

}  // namespace

void fillSheet(GridControl& grid, const SheetViewDef& viewDef, std::optional<SWbemObjectSet>& set) {
  clearValues(grid, viewDef);
  bool anyObject = false;
  while (set) {
    std::optional<SWbemObject> object;
    if (!Err().step([&] { object = set->Next(); }) || !object) break;
    anyObject = true;
    perObjectBlock(grid, viewDef, &*object);
  }
  if (!anyObject) perObjectBlock(grid, viewDef, nullptr);
}

}  // namespace kestrava
