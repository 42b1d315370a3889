#pragma once

#include <QFont>

#include "platform/Twips.h"

namespace kestrava {

// The windows' designed font: MS Sans Serif where it exists, the desktop's sans-serif elsewhere.
inline QFont sansSerif(double points, bool bold = false) {
  QFont font("MS Sans Serif");
  font.setStyleHint(QFont::SansSerif);
  font.setPointSizeF(points);
  font.setBold(bold);
  return font;
}

// Names a control and puts it where the window's design has it, in twips.
template <typename Widget>
Widget* place(Widget* widget, const char* name, int left, int top, int width, int height) {
  widget->setObjectName(name);
  widget->setGeometry(twipsRect(left, top, width, height));
  return widget;
}

}  // namespace kestrava
