// Waiting in tests that run a real Qt event loop.
#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <functional>

namespace kelvarin::testsupport {

// Runs the event loop until `done` holds or `ms` pass; returns whether it holds.
// The loop waits between checks, so idle steps come as in an application's own.
inline bool waitUntil(const std::function<bool()>& done, int ms) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > ms) return false;
    QEventLoop loop;
    QTimer::singleShot(5, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

} // namespace kelvarin::testsupport
