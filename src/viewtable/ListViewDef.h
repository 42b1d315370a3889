#pragma once

#include <vector>

namespace kestrava {

struct ListColumn {
  const char* header;
  const char* property;
};

// A list view as data: its window, its list control, its query and its columns. Column 0 shows
// the row text; the others are the row's sub-items.
struct ListViewDef {
  const char* windowName;
  const char* caption;
  const char* listName;
  int left, top, width, height;  // twips, within the window
  const char* query;
  const char* keyProperty;   // unique per row
  const char* textProperty;  // the row's text, column 0
  std::vector<ListColumn> columns;
};

}  // namespace kestrava
