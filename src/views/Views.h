#pragma once

namespace kestrava {

class MDIKestrava;

// Registers the seven view windows with the main window.
void registerViews(MDIKestrava& main);

}  // namespace kestrava
