#pragma once

#include <QRect>
#include <QSize>

namespace kestrava {

// Window and control sizes are designed in twips, 1440 to the logical inch of the screen.
int twipsToPixels(int twips);
QRect twipsRect(int left, int top, int width, int height);
QSize twipsSize(int width, int height);

}  // namespace kestrava
