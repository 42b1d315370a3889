#include "platform/Twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace kestrava {

namespace {
double logicalDpi() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->logicalDotsPerInchX() : 96.0;
}
}  // namespace

int twipsToPixels(int twips) {
  return static_cast<int>(std::lround(twips * logicalDpi() / 1440.0));
}

QRect twipsRect(int left, int top, int width, int height) {
  return {twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height)};
}

QSize twipsSize(int width, int height) {
  return {twipsToPixels(width), twipsToPixels(height)};
}

}  // namespace kestrava
