#include "QtConvert.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPalette>
#include <algorithm>

namespace keltk::qt {

namespace {

QColor fromRGB(TColor rgb) {
  return QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
}

// The palette role that plays the part of a system colour, if any.
bool paletteColor(TColor color, QColor& out) {
  if (QGuiApplication::instance() == nullptr) return false;
  const QPalette pal = QGuiApplication::palette();
  auto role = [&](QPalette::ColorRole r, QPalette::ColorGroup g = QPalette::Active) {
    out = pal.color(g, r);
    return true;
  };
  switch (color) {
  case clBtnFace:
  case clMenu:
    // Dialog surfaces: Qt paints them in the window role.
    return role(QPalette::Window);
  case clWindow:
    return role(QPalette::Base);
  case clWindowText:
  case clMenuText:
    return role(QPalette::WindowText);
  case clBtnText:
    return role(QPalette::ButtonText);
  case clBtnShadow:
    return role(QPalette::Dark);
  case clBtnHighlight:
    return role(QPalette::Light);
  case cl3DDkShadow:
  case clWindowFrame:
    return role(QPalette::Shadow);
  case cl3DLight:
    return role(QPalette::Midlight);
  case clHighlight:
    return role(QPalette::Highlight);
  case clHighlightText:
    return role(QPalette::HighlightedText);
  case clGrayText:
    return role(QPalette::Text, QPalette::Disabled);
  case clInfoBk:
    return role(QPalette::ToolTipBase);
  case clInfoText:
    return role(QPalette::ToolTipText);
  case clAppWorkSpace:
    return role(QPalette::Mid);
  default:
    return false;
  }
}

} // namespace

QColor toQColor(TColor color) {
  if (color == clNone) return QColor(Qt::transparent);
  if (color == clDefault) color = clWindow;
  if (!IsSystemColor(color)) return fromRGB(color);
  QColor mapped;
  if (paletteColor(color, mapped)) return mapped;
  return fromRGB(ColorToRGB(color));
}

QFont toQFont(const TFont& font) {
  QFont q(toQString(font.Name()));
  const TFontStyles style = font.Style();
  q.setBold((style & fontStyle(fsBold)) != 0);
  q.setItalic((style & fontStyle(fsItalic)) != 0);
  q.setUnderline((style & fontStyle(fsUnderline)) != 0);
  q.setStrikeOut((style & fontStyle(fsStrikeOut)) != 0);
  if (font.Pitch() == fpFixed) {
    q.setStyleHint(QFont::Monospace);
    q.setFixedPitch(true);
  }
  const int height = font.Height();
  if (height < 0) {
    // A negative height is the character height itself.
    q.setPixelSize(-height);
  } else if (height > 0) {
    // A positive height is the whole cell, leading included: shrink the character
    // height until the line fits.
    q.setPixelSize(height);
    const int cell = QFontMetrics(q).height();
    if (cell > height) q.setPixelSize(std::max(1, height * height / cell));
  }
  return q;
}

} // namespace keltk::qt
