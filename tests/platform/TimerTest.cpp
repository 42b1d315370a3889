#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>

#include "platform/Timer.h"

namespace kestrava {
namespace {

// Runs the event loop for about `ms` milliseconds, or until `done` holds.
template <typename Done>
void runEventLoop(int ms, Done done) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms && !done()) QApplication::processEvents(QEventLoop::AllEvents, 5);
}

TEST(TimerTest, EnabledTimerTicksOnTheEventLoopUntilDisabled) {
  Timer timer;
  int ticks = 0;
  QObject::connect(&timer, &Timer::Tick, [&] { ++ticks; });
  timer.setInterval(1);
  EXPECT_FALSE(timer.Enabled());
  timer.setEnabled(true);
  runEventLoop(2000, [&] { return ticks >= 2; });
  EXPECT_GE(ticks, 2);
  timer.setEnabled(false);
  const int stopped = ticks;
  runEventLoop(20, [] { return false; });
  EXPECT_EQ(ticks, stopped);
}

TEST(TimerTest, ManualTicksComeOnlyFromTheTest) {
  Timer::setManualTicks(true);
  Timer timer;
  int ticks = 0;
  QObject::connect(&timer, &Timer::Tick, [&] { ++ticks; });
  timer.setInterval(1);
  timer.setEnabled(true);
  runEventLoop(30, [] { return false; });
  EXPECT_EQ(ticks, 0);
  EXPECT_TRUE(timer.Enabled());
  timer.tick();
  EXPECT_EQ(ticks, 1);
  Timer::setManualTicks(false);
}

}  // namespace
}  // namespace kestrava
