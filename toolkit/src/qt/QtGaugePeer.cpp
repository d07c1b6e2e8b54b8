// The gauge, painted from the model's values.
#include "QtConvert.h"
#include "QtPeer.h"
#include "keltk/Gauges.h"

#include <QPaintEvent>
#include <QPainter>
#include <QWidget>
#include <cmath>

namespace keltk::qt {

namespace {

// How much of `length` the progress fills; nothing for an empty range.
int filled(const TGauge& g, int length) {
  const long long range = static_cast<long long>(g.MaxValue()) - g.MinValue();
  if (range <= 0 || length <= 0) return 0;
  const long long done = static_cast<long long>(g.Progress()) - g.MinValue();
  return static_cast<int>(done * length / range);
}

class GaugeWidget : public QWidget {
public:
  explicit GaugeWidget(QWidget* parent) : QWidget(parent) {}
  PeerLink link;

protected:
  void paintEvent(QPaintEvent*) override {
    const auto* g = link.peer != nullptr ? ObjectAs<TGauge>(&link.peer->control()) : nullptr;
    if (g == nullptr) return;
    QPainter p(this);
    QRect area = rect();
    if (g->BorderStyle() != 0) {
      p.setPen(Qt::black);
      p.setBrush(Qt::NoBrush);
      p.drawRect(area.adjusted(0, 0, -1, -1));
      area.adjust(1, 1, -1, -1);
    }
    if (area.isEmpty()) return;
    const QColor back = toQColor(g->BackColor());
    const QColor fore = toQColor(g->ForeColor());
    QRect bar; // the part drawn in the bar colour (text over it is drawn in the back colour)
    switch (g->Kind()) {
    case gkText:
      p.fillRect(area, back);
      break;
    case gkHorizontalBar:
      p.fillRect(area, back);
      bar = QRect(area.left(), area.top(), filled(*g, area.width()), area.height());
      p.fillRect(bar, fore);
      break;
    case gkVerticalBar: {
      p.fillRect(area, back);
      const int h = filled(*g, area.height());
      bar = QRect(area.left(), area.bottom() + 1 - h, area.width(), h);
      p.fillRect(bar, fore);
      break;
    }
    case gkPie:
      paintPie(p, area, *g, back, fore);
      break;
    case gkNeedle:
      paintNeedle(p, area, *g, back, fore);
      break;
    }
    if (g->ShowText() && g->Kind() != gkNeedle) paintText(p, area, bar, *g, back);
  }

private:
  void paintPie(QPainter& p, const QRect& area, const TGauge& g, const QColor& back,
                const QColor& fore) {
    p.fillRect(area, toQColor(g.Color()));
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::black);
    p.setBrush(back);
    p.drawEllipse(area.adjusted(0, 0, -1, -1));
    const int span = filled(g, 360 * 16);
    p.setBrush(fore);
    // Clockwise from twelve o'clock, in Qt's sixteenths of a degree.
    if (span > 0) p.drawPie(area.adjusted(0, 0, -1, -1), 90 * 16, -span);
  }

  void paintNeedle(QPainter& p, const QRect& area, const TGauge& g, const QColor& back,
                   const QColor& fore) {
    p.fillRect(area, toQColor(g.Color()));
    p.setRenderHint(QPainter::Antialiasing);
    const QRect dial(area.left(), area.top(), area.width(), area.height() * 2);
    p.setPen(Qt::black);
    p.setBrush(back);
    p.drawPie(dial.adjusted(0, 0, -1, -1), 0, 180 * 16);
    // From the left (empty) round to the right (full).
    const double angle = M_PI * (1.0 - filled(g, 10000) / 10000.0);
    const QPointF centre(dial.center().x(), area.bottom());
    const double radius = std::min(area.width() / 2.0, static_cast<double>(area.height()));
    p.setPen(QPen(fore, 2));
    p.drawLine(centre, centre + QPointF(radius * std::cos(angle), -radius * std::sin(angle)));
  }

  void paintText(QPainter& p, const QRect& area, const QRect& bar, const TGauge& g,
                 const QColor& back) {
    const QString text = QString::number(g.PercentDone()) + QLatin1Char('%');
    p.setFont(font());
    const QRegion whole(area);
    // The text in its own colour over the background, in the back colour over the bar.
    p.setClipRegion(whole.subtracted(QRegion(bar)));
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(area, Qt::AlignCenter, text);
    if (bar.isEmpty()) return;
    p.setClipRect(bar);
    p.setPen(back);
    p.drawText(area, Qt::AlignCenter, text);
  }
};

} // namespace

std::unique_ptr<QtPeer> makeGaugePeer(QtGuiBackend& backend, TControl& control, QWidget* parent) {
  auto* widget = new GaugeWidget(parent);
  return std::make_unique<QtPeer>(backend, control, widget, widget->link);
}

} // namespace keltk::qt
