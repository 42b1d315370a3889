#pragma once

namespace kestrava {

class MDIKestrava;
class ViewWindow;
struct ViewRow;

// The window that shows a view of the table, as its kind asks.
ViewWindow* makeViewWindow(MDIKestrava& main, const ViewRow& row);

}  // namespace kestrava
