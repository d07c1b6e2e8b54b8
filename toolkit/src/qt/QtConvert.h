// Model values as Qt sees them: colours, fonts, texts.
#pragma once

#include "keltk/Graphics.h"

#include <QColor>
#include <QFont>
#include <QString>
#include <string>

namespace keltk::qt {

// Plain colours as they are; system colours from the application's palette (the
// model's defaults when Qt has no role for them).
QColor toQColor(TColor color);
// Family, pixel size, style and pitch; the colour is separate (fontColor).
QFont toQFont(const TFont& font);

inline QString toQString(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
inline std::string fromQString(const QString& text) {
  return text.toStdString();
}

} // namespace keltk::qt
