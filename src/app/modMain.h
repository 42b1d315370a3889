#pragma once

namespace kestrava {

class MDIKestrava;

// The exit routine: closes the main window, and with it every child window, and ends the
// program at once. Nothing is asked and nothing is saved.
void ExitProgram(MDIKestrava& main);

}  // namespace kestrava
