#include "keltk/Graphics.h"

#include "keltk/Exception.h"

#include <cmath>
#include <fmt/format.h>

namespace keltk {

// ---- Colours ------------------------------------------------------------------

TColor ColorToRGB(TColor color) {
  if (!IsSystemColor(color)) return color & 0xFFFFFF;
  // A light desktop theme; the GUI layer substitutes its own palette.
  static constexpr TColor defaults[] = {
      RGB(200, 200, 200), RGB(0, 0, 0),       RGB(153, 180, 209), RGB(191, 205, 219),
      RGB(240, 240, 240), RGB(255, 255, 255), RGB(100, 100, 100), RGB(0, 0, 0),
      RGB(0, 0, 0),       RGB(0, 0, 0),       RGB(180, 180, 180), RGB(244, 247, 252),
      RGB(171, 171, 171), RGB(0, 120, 215),   RGB(255, 255, 255), RGB(240, 240, 240),
      RGB(160, 160, 160), RGB(109, 109, 109), RGB(0, 0, 0),       RGB(0, 0, 0),
      RGB(255, 255, 255), RGB(105, 105, 105), RGB(227, 227, 227), RGB(0, 0, 0),
      RGB(255, 255, 225)};
  const auto index = static_cast<std::size_t>(color & 0xFF);
  return index < std::size(defaults) ? defaults[index] : clBlack;
}

const EnumInfo& ColorIdents() {
  static const EnumInfo info{"TColor",
                             {{"clBlack", clBlack},
                              {"clMaroon", clMaroon},
                              {"clGreen", clGreen},
                              {"clOlive", clOlive},
                              {"clNavy", clNavy},
                              {"clPurple", clPurple},
                              {"clTeal", clTeal},
                              {"clGray", clGray},
                              {"clSilver", clSilver},
                              {"clRed", clRed},
                              {"clLime", clLime},
                              {"clYellow", clYellow},
                              {"clBlue", clBlue},
                              {"clFuchsia", clFuchsia},
                              {"clAqua", clAqua},
                              {"clWhite", clWhite},
                              {"clMoneyGreen", clMoneyGreen},
                              {"clSkyBlue", clSkyBlue},
                              {"clCream", clCream},
                              {"clMedGray", clMedGray},
                              {"clLtGray", clSilver},
                              {"clDkGray", clGray},
                              {"clScrollBar", clScrollBar},
                              {"clBackground", clBackground},
                              {"clActiveCaption", clActiveCaption},
                              {"clInactiveCaption", clInactiveCaption},
                              {"clMenu", clMenu},
                              {"clWindow", clWindow},
                              {"clWindowFrame", clWindowFrame},
                              {"clMenuText", clMenuText},
                              {"clWindowText", clWindowText},
                              {"clCaptionText", clCaptionText},
                              {"clActiveBorder", clActiveBorder},
                              {"clInactiveBorder", clInactiveBorder},
                              {"clAppWorkSpace", clAppWorkSpace},
                              {"clHighlight", clHighlight},
                              {"clHighlightText", clHighlightText},
                              {"clBtnFace", clBtnFace},
                              {"clBtnShadow", clBtnShadow},
                              {"clGrayText", clGrayText},
                              {"clBtnText", clBtnText},
                              {"clInactiveCaptionText", clInactiveCaptionText},
                              {"clBtnHighlight", clBtnHighlight},
                              {"cl3DDkShadow", cl3DDkShadow},
                              {"cl3DLight", cl3DLight},
                              {"clInfoText", clInfoText},
                              {"clInfoBk", clInfoBk},
                              {"clNone", clNone},
                              {"clDefault", clDefault}}};
  return info;
}

std::string ColorToString(TColor color) {
  if (const std::string* name = ColorIdents().nameOf(color)) return *name;
  return fmt::format("${:08X}", static_cast<std::uint32_t>(color));
}

// ---- Fonts --------------------------------------------------------------------

const EnumInfo& FontStyleInfo() {
  static const EnumInfo info =
      EnumInfo::sequence("TFontStyle", {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"});
  return info;
}

const EnumInfo& FontPitchInfo() {
  static const EnumInfo info =
      EnumInfo::sequence("TFontPitch", {"fpDefault", "fpVariable", "fpFixed"});
  return info;
}

const EnumInfo& CharsetIdents() {
  static const EnumInfo info{"TFontCharset",
                             {{"ANSI_CHARSET", 0},
                              {"DEFAULT_CHARSET", 1},
                              {"SYMBOL_CHARSET", 2},
                              {"MAC_CHARSET", 77},
                              {"SHIFTJIS_CHARSET", 128},
                              {"HANGEUL_CHARSET", 129},
                              {"JOHAB_CHARSET", 130},
                              {"GB2312_CHARSET", 134},
                              {"CHINESEBIG5_CHARSET", 136},
                              {"GREEK_CHARSET", 161},
                              {"TURKISH_CHARSET", 162},
                              {"VIETNAMESE_CHARSET", 163},
                              {"HEBREW_CHARSET", 177},
                              {"ARABIC_CHARSET", 178},
                              {"BALTIC_CHARSET", 186},
                              {"RUSSIAN_CHARSET", 204},
                              {"THAI_CHARSET", 222},
                              {"EASTEUROPE_CHARSET", 238},
                              {"OEM_CHARSET", 255}}};
  return info;
}

TFont::TFont() = default;
TFont::~TFont() = default;

const TClassInfo& TFont::StaticClass() {
  static TClassInfo info("TFont", &TPersistent::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<TFont> b(i);
    b.integer("Charset", &TFont::Charset, &TFont::SetCharset, &CharsetIdents());
    b.integer("Color", &TFont::Color, &TFont::SetColor, &ColorIdents());
    b.integer("Height", &TFont::Height, &TFont::SetHeight);
    b.string("Name", &TFont::Name, &TFont::SetName);
    b.enumeration("Pitch", FontPitchInfo(), &TFont::Pitch, &TFont::SetPitch)
        .defaultValue(fpDefault);
    b.integer("Size", &TFont::Size, &TFont::SetSize).storedIf([](const TObject&) {
      return false; // Height carries it
    });
    b.set("Style", FontStyleInfo(), &TFont::Style, &TFont::SetStyle);
  });
  return info;
}

void TFont::changed() {
  if (onChange_) onChange_(this);
}

void TFont::SetName(const std::string& name) {
  if (name == name_ || name.empty()) return;
  name_ = name;
  changed();
}

void TFont::SetHeight(int height) {
  if (height == height_) return;
  height_ = height;
  changed();
}

int TFont::Size() const {
  const double points = -static_cast<double>(height_) * 72.0 / pixelsPerInch_;
  return static_cast<int>(std::lround(points));
}

void TFont::SetSize(int points) {
  SetHeight(-static_cast<int>(std::lround(static_cast<double>(points) * pixelsPerInch_ / 72.0)));
}

void TFont::SetColor(TColor color) {
  if (color == color_) return;
  color_ = color;
  changed();
}

void TFont::SetStyle(TFontStyles style) {
  style &= 0xF;
  if (style == style_) return;
  style_ = style;
  changed();
}

void TFont::SetPitch(TFontPitch pitch) {
  if (pitch == pitch_) return;
  pitch_ = pitch;
  changed();
}

void TFont::SetCharset(TFontCharset charset) {
  if (charset == charset_) return;
  charset_ = charset;
  changed();
}

bool TFont::operator==(const TFont& other) const {
  return name_ == other.name_ && height_ == other.height_ && color_ == other.color_ &&
         style_ == other.style_ && pitch_ == other.pitch_ && charset_ == other.charset_;
}

void TFont::Assign(const TPersistent* source) {
  const TFont* other = ObjectAs<TFont>(source);
  if (other == nullptr) {
    TPersistent::Assign(source);
    return;
  }
  if (*other == *this) return;
  name_ = other->name_;
  height_ = other->height_;
  color_ = other->color_;
  style_ = other->style_;
  pitch_ = other->pitch_;
  charset_ = other->charset_;
  changed();
}

} // namespace keltk
