#include "platform/Timer.h"

namespace kestrava {

namespace {
bool manualTicks = false;
}  // namespace

void Timer::setManualTicks(bool manual) {
  manualTicks = manual;
}

Timer::Timer(QObject* parent) : QObject(parent) {
  connect(&timer_, &QTimer::timeout, this, &Timer::Tick);
}

void Timer::setEnabled(bool enabled) {
  enabled_ = enabled;
  // Enabling a running timer leaves its rhythm alone, as the blink relies on.
  if (enabled && !timer_.isActive() && !manualTicks) timer_.start();
  if (!enabled) timer_.stop();
}

}  // namespace kestrava
