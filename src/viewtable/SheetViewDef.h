#pragma once

#include <vector>

namespace kestrava {

// A property sheet view as data: its window, its grid's shape and its row table. Row k of the
// grid pairs entry k's name with the value of the property of that name.
struct SheetViewDef {
  const char* windowName;
  const char* caption;
  const char* gridName;
  int width, height;  // twips, at the window's top left corner
  int rows, cols, fixedRows, fixedCols;
  const char* query;
  int col0Width, col1Width;  // twips
  std::vector<const char*> rowNames;
};

}  // namespace kestrava
