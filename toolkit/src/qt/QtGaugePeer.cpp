// The gauge, painted from the model's values.
#include "QtConvert.h"
#include "QtPeer.h"
#include "keltk/Gauges.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace keltk::qt {

namespace {

// How much of `length` the progress fills. An empty range is always full (the
// progress cannot be anywhere but at its one value).
int filled(const TGauge& g, int length) {
  const long long range = static_cast<long long>(g.MaxValue()) - g.MinValue();
  if (length <= 0 || range < 0) return 0;
  if (range == 0) return length;
  const long long done = static_cast<long long>(g.Progress()) - g.MinValue();
  return static_cast<int>(done * length / range);
}

class GaugeWidget : public QWidget {
public:
  explicit GaugeWidget(QWidget* parent) : QWidget(parent) {}
  PeerLink link;

protected:
  // In whole device pixels: at a fractional scale (150%) a one-pixel frame drawn in
  // logical units loses its bottom edge and leaves a light seam inside the others.
  void paintEvent(QPaintEvent*) override {
    const auto* g = link.peer != nullptr ? ObjectAs<TGauge>(&link.peer->control()) : nullptr;
    if (g == nullptr) return;
    QPainter p(this);
    const qreal scale = devicePixelRatioF();
    p.scale(1 / scale, 1 / scale);
    QRect area(0, 0, qRound(width() * scale), qRound(height() * scale));
    if (g->BorderStyle() != 0) {
      const int edge = std::max(1, static_cast<int>(scale));
      const QRect whole = area;
      area.adjust(edge, edge, -edge, -edge);
      const QRegion frame = QRegion(whole).subtracted(QRegion(area));
      for (const QRect& part : frame)
        p.fillRect(part, Qt::black);
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
      paintPie(p, area, *g, back, fore, scale);
      break;
    case gkNeedle:
      paintNeedle(p, area, *g, back, fore, scale);
      break;
    }
    if (g->ShowText() && g->Kind() != gkNeedle) paintText(p, area, bar, *g, back, scale);
  }

private:
  void paintPie(QPainter& p, const QRect& area, const TGauge& g, const QColor& back,
                const QColor& fore, qreal scale) {
    p.fillRect(area, toQColor(g.Color()));
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, scale));
    p.setBrush(back);
    p.drawEllipse(area.adjusted(0, 0, -1, -1));
    const int span = filled(g, 360 * 16);
    p.setBrush(fore);
    // Clockwise from twelve o'clock, in Qt's sixteenths of a degree.
    if (span > 0) p.drawPie(area.adjusted(0, 0, -1, -1), 90 * 16, -span);
  }

  void paintNeedle(QPainter& p, const QRect& area, const TGauge& g, const QColor& back,
                   const QColor& fore, qreal scale) {
    p.fillRect(area, toQColor(g.Color()));
    p.setRenderHint(QPainter::Antialiasing);
    const QRect dial(area.left(), area.top(), area.width(), area.height() * 2);
    p.setPen(QPen(Qt::black, scale));
    p.setBrush(back);
    p.drawPie(dial.adjusted(0, 0, -1, -1), 0, 180 * 16);
    // From the left (empty) round to the right (full).
    constexpr int kNeedleSteps = 10000; // fine enough that the needle moves smoothly
    const double angle = M_PI * (1.0 - filled(g, kNeedleSteps) / double(kNeedleSteps));
    const QPointF centre(dial.center().x(), area.bottom());
    const double radius = std::min(area.width() / 2.0, static_cast<double>(area.height()));
    p.setPen(QPen(fore, 2 * scale));
    p.drawLine(centre, centre + QPointF(radius * std::cos(angle), -radius * std::sin(angle)));
  }

  // The text in logical units (the font's size), clipped by the device rectangles.
  void paintText(QPainter& p, const QRect& area, const QRect& bar, const TGauge& g,
                 const QColor& back, qreal scale) {
    const auto logical = [scale](const QRect& r) {
      return QRectF(r.x() / scale, r.y() / scale, r.width() / scale, r.height() / scale);
    };
    p.resetTransform();
    const QString text = QString::number(g.PercentDone()) + QLatin1Char('%');
    p.setFont(font());
    QPainterPath whole;
    whole.addRect(logical(area));
    QPainterPath barPath;
    barPath.addRect(logical(bar));
    // The text in its own colour over the background, in the back colour over the bar.
    p.setClipPath(whole.subtracted(barPath));
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(logical(area), Qt::AlignCenter, text);
    if (bar.isEmpty()) return;
    p.setClipPath(barPath);
    p.setPen(back);
    p.drawText(logical(area), Qt::AlignCenter, text);
  }
};

} // namespace

std::unique_ptr<QtPeer> makeGaugePeer(QtGuiBackend& backend, TControl& control, QWidget* parent) {
  auto* widget = new GaugeWidget(parent);
  return std::make_unique<QtPeer>(backend, control, widget, widget->link);
}

} // namespace keltk::qt
