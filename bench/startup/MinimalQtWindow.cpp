// The yardstick for tavlo's start-up: the least a Qt Widgets program does to put
// one window up. It shows a window and quits when the event loop first has
// nothing left to do.
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QLabel window("Sample");
  window.resize(318, 153);
  window.show();
  QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                   &app, [] { QCoreApplication::exit(0); });
  return app.exec();
}
