// The window system's timers behind TTimer.
#include "QtGuiBackend.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <memory>

namespace keltk::qt {

namespace {

class TimerPeer final : public TTimerPeer {
public:
  TimerPeer(int interval, std::function<void()> tick)
      // A child of the application object: it goes with Qt whatever else happens.
      : timer_(new QTimer(QCoreApplication::instance())), ticking_(std::make_shared<bool>(false)) {
    QObject::connect(timer_.data(), &QTimer::timeout, timer_.data(),
                     [tick = std::move(tick), ticking = ticking_] {
                       // A timer may outlive the backend that started it: the
                       // backend is looked up when it ticks, and none drops it.
                       auto* backend = dynamic_cast<QtGuiBackend*>(GuiBackend());
                       if (backend == nullptr) return;
                       *ticking = true;
                       backend->dispatch(tick);
                       *ticking = false;
                     });
    timer_->start(interval);
  }
  ~TimerPeer() override {
    // Gone already when Qt went first, or when the module that started it was
    // released and its timers with it.
    QTimer* timer = timer_.data();
    if (timer == nullptr) return;
    timer->stop();
    // Its own tick may be what stops it: Qt is still in the signal then.
    if (*ticking_)
      timer->deleteLater();
    else
      delete timer;
  }
  TimerPeer(const TimerPeer&) = delete;
  TimerPeer& operator=(const TimerPeer&) = delete;

private:
  QPointer<QTimer> timer_;
  std::shared_ptr<bool> ticking_;
};

} // namespace

std::unique_ptr<TTimerPeer> QtGuiBackend::startTimer(int interval, std::function<void()> tick) {
  if (QCoreApplication::instance() == nullptr) return nullptr;
  return std::make_unique<TimerPeer>(interval, std::move(tick));
}

} // namespace keltk::qt
