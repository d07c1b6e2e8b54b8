// Colours, fonts and bitmaps.
#pragma once

#include "keltk/Component.h"
#include "keltk/NotifyEvent.h"
#include "keltk/PropInfo.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace keltk {

class TCanvas; // drawing surface of the GUI layer; opaque to the model

struct TPoint {
  int X = 0;
  int Y = 0;
  friend bool operator==(const TPoint&, const TPoint&) = default;
};

struct TRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  friend bool operator==(const TRect&, const TRect&) = default;
};

// ---- Colours ------------------------------------------------------------------

// 0x00BBGGRR for plain colours. System colours have the top bit set and carry the
// index of a colour of the window system's palette in their low byte; the GUI
// layer resolves them (ColorToRGB gives the model's defaults).
using TColor = std::int32_t;

constexpr TColor RGB(int r, int g, int b) {
  return static_cast<TColor>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int GetRValue(TColor c) {
  return c & 0xFF;
}
constexpr int GetGValue(TColor c) {
  return (c >> 8) & 0xFF;
}
constexpr int GetBValue(TColor c) {
  return (c >> 16) & 0xFF;
}

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clMoneyGreen = 0xC0DCC0;
constexpr TColor clSkyBlue = 0xF0CAA6;
constexpr TColor clCream = 0xF0FBFF;
constexpr TColor clMedGray = 0xA4A0A0;

constexpr TColor systemColor(int index) {
  return static_cast<TColor>(0x80000000u | static_cast<std::uint32_t>(index));
}
constexpr TColor clScrollBar = systemColor(0);
constexpr TColor clBackground = systemColor(1);
constexpr TColor clActiveCaption = systemColor(2);
constexpr TColor clInactiveCaption = systemColor(3);
constexpr TColor clMenu = systemColor(4);
constexpr TColor clWindow = systemColor(5);
constexpr TColor clWindowFrame = systemColor(6);
constexpr TColor clMenuText = systemColor(7);
constexpr TColor clWindowText = systemColor(8);
constexpr TColor clCaptionText = systemColor(9);
constexpr TColor clActiveBorder = systemColor(10);
constexpr TColor clInactiveBorder = systemColor(11);
constexpr TColor clAppWorkSpace = systemColor(12);
constexpr TColor clHighlight = systemColor(13);
constexpr TColor clHighlightText = systemColor(14);
constexpr TColor clBtnFace = systemColor(15);
constexpr TColor clBtnShadow = systemColor(16);
constexpr TColor clGrayText = systemColor(17);
constexpr TColor clBtnText = systemColor(18);
constexpr TColor clInactiveCaptionText = systemColor(19);
constexpr TColor clBtnHighlight = systemColor(20);
constexpr TColor cl3DDkShadow = systemColor(21);
constexpr TColor cl3DLight = systemColor(22);
constexpr TColor clInfoText = systemColor(23);
constexpr TColor clInfoBk = systemColor(24);

constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;

constexpr bool IsSystemColor(TColor c) {
  return c < 0;
}
// A plain colour for any colour: system colours get the toolkit's default palette.
TColor ColorToRGB(TColor color);
// The identifiers stored data may use for colour properties (clRed, clBtnFace, ...).
const EnumInfo& ColorIdents();
// "clRed" for a named colour, otherwise the value as "$00BBGGRR".
std::string ColorToString(TColor color);

// ---- Fonts --------------------------------------------------------------------

enum TFontStyle { fsBold, fsItalic, fsUnderline, fsStrikeOut };
using TFontStyles = std::uint32_t; // bit n = TFontStyle n
constexpr TFontStyles fontStyle(TFontStyle s) {
  return 1u << s;
}
const EnumInfo& FontStyleInfo();

enum TFontPitch { fpDefault, fpVariable, fpFixed };
const EnumInfo& FontPitchInfo();

using TFontCharset = std::uint8_t;
constexpr TFontCharset ANSI_CHARSET = 0;
constexpr TFontCharset DEFAULT_CHARSET = 1;
constexpr TFontCharset SYMBOL_CHARSET = 2;
constexpr TFontCharset OEM_CHARSET = 255;
// ANSI_CHARSET, DEFAULT_CHARSET, SYMBOL_CHARSET, RUSSIAN_CHARSET, ...
const EnumInfo& CharsetIdents();

class TFont : public TPersistent {
public:
  TFont();
  ~TFont() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  const std::string& Name() const { return name_; }
  void SetName(const std::string& name);
  // Character height in pixels; negative values as stored (-11 is 8 points at 96 dpi).
  int Height() const { return height_; }
  void SetHeight(int height);
  // Points, derived from Height at PixelsPerInch.
  int Size() const;
  void SetSize(int points);
  TColor Color() const { return color_; }
  void SetColor(TColor color);
  TFontStyles Style() const { return style_; }
  void SetStyle(TFontStyles style);
  TFontPitch Pitch() const { return pitch_; }
  void SetPitch(TFontPitch pitch);
  TFontCharset Charset() const { return charset_; }
  void SetCharset(TFontCharset charset);
  int PixelsPerInch() const { return pixelsPerInch_; }
  void SetPixelsPerInch(int ppi) { pixelsPerInch_ = ppi > 0 ? ppi : 96; }

  bool operator==(const TFont& other) const;

  void Assign(const TPersistent* source) override;

  const TNotifyEvent& OnChange() const { return onChange_; }
  void SetOnChange(const TNotifyEvent& handler) { onChange_ = handler; }

private:
  void changed();

  std::string name_ = "MS Sans Serif";
  int height_ = -11;
  TColor color_ = clWindowText;
  TFontStyles style_ = 0;
  TFontPitch pitch_ = fpDefault;
  TFontCharset charset_ = DEFAULT_CHARSET;
  int pixelsPerInch_ = 96;
  TNotifyEvent onChange_;
};

// ---- Bitmaps ------------------------------------------------------------------

enum TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit };

// Pixels are 0xAARRGGBB (opaque pixels have alpha 0xFF), row by row from the top.
class TBitmap : public TPersistent {
public:
  TBitmap();
  ~TBitmap() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  int Width() const { return width_; }
  int Height() const { return height_; }
  // True when the bitmap holds no image.
  bool Empty() const { return width_ == 0 || height_ == 0; }
  // Resizes, keeping the pixels that stay inside; new pixels are white.
  void SetSize(int width, int height);
  void SetWidth(int width) { SetSize(width, height_); }
  void SetHeight(int height) { SetSize(width_, height); }
  void Clear();

  TPixelFormat PixelFormat() const { return pixelFormat_; }
  // Paletted formats get a standard palette when the bitmap has none of the right
  // size; pixels are mapped to the nearest palette colour.
  void SetPixelFormat(TPixelFormat format);
  // Palette of a paletted bitmap (0xFFRRGGBB); empty otherwise.
  const std::vector<std::uint32_t>& Palette() const { return palette_; }

  std::uint32_t Pixel(int x, int y) const;
  void SetPixel(int x, int y, std::uint32_t argb);
  TColor Pixels(int x, int y) const;
  void SetPixels(int x, int y, TColor color);
  // Palette index of a pixel of a paletted bitmap.
  int PixelIndex(int x, int y) const;
  const std::uint32_t* ScanLine(int y) const;

  // The colour that a transparent glyph leaves out: its bottom-left pixel.
  TColor TransparentColor() const;

  // BMP data (a whole .bmp file). Reading takes 1, 4 and 8 bits per pixel with
  // their palettes, 16, 24 and 32 bits (also with bit-field masks), top-down and
  // bottom-up; anything malformed raises EInvalidGraphic and leaves the bitmap as
  // it was. Writing keeps 1, 4 and 8 bits with the palette; 15 and 16 bits are
  // written as 24.
  void LoadFromBMP(std::span<const std::uint8_t> data);
  std::vector<std::uint8_t> SaveToBMP() const;
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName) const;

  // Copies another bitmap (deep); null empties this one.
  void Assign(const TPersistent* source) override;

  const TNotifyEvent& OnChange() const { return onChange_; }
  void SetOnChange(const TNotifyEvent& handler) { onChange_ = handler; }

private:
  void changed();
  bool paletted() const;
  int nearestIndex(std::uint32_t argb) const;
  void remapToPalette();

  int width_ = 0;
  int height_ = 0;
  TPixelFormat pixelFormat_ = pfDevice;
  std::vector<std::uint32_t> pixels_;
  std::vector<std::uint8_t> indices_; // paletted formats only, one per pixel
  std::vector<std::uint32_t> palette_;
  std::int32_t xPelsPerMeter_ = 0;
  std::int32_t yPelsPerMeter_ = 0;
  TNotifyEvent onChange_;
};

// The 16 colours of the classic 4-bit palette, index order, as 0xFFRRGGBB.
const std::vector<std::uint32_t>& StandardPalette16();

} // namespace keltk
