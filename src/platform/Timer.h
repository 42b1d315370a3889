#pragma once

#include <QObject>
#include <QTimer>

namespace kestrava {

// A timer with an interval in milliseconds that ticks on the event loop while enabled. A test
// drives it tick by tick through tick(), without sleeping.
class Timer : public QObject {
  Q_OBJECT
 public:
  explicit Timer(QObject* parent = nullptr);

  int Interval() const { return timer_.interval(); }
  void setInterval(int ms) { timer_.setInterval(ms); }
  bool Enabled() const { return enabled_; }
  void setEnabled(bool enabled);

  // Delivers one tick now, as the event loop would.
  void tick() { emit Tick(); }
  // While on, timers enabled afterwards tick only through tick(): a test that drives the ticks
  // and lets the event loop run gets no extra tick of the clock's own.
  static void setManualTicks(bool manual);

 signals:
  void Tick();

 private:
  QTimer timer_;
  bool enabled_ = false;
};

}  // namespace kestrava
