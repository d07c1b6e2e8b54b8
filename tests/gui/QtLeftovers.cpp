// A module that leaves Qt work behind, as a plug-in does that stops none of it
// when it is finalized: timers with its functions connected, a queued call of one
// and a plain object (returned, so that the test can let it go).
#include <QObject>
#include <QTimer>

namespace {
int calls = 0;
} // namespace

extern "C" __attribute__((visibility("default"))) QObject* LeaveQtWorkBehind() {
  QTimer::singleShot(50, [] { ++calls; });
  QTimer::singleShot(0, [] { ++calls; });
  auto* repeating = new QTimer;
  QObject::connect(repeating, &QTimer::timeout, [] { ++calls; });
  repeating->start(10);
  return new QObject;
}
