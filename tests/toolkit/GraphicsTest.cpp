#include "keltk/Graphics.h"

#include "keltk/Exception.h"
#include "keltk/PropInfo.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

using namespace keltk;

namespace {

using Bytes = std::vector<std::uint8_t>;

void le16(Bytes& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void le32(Bytes& b, std::uint32_t v) {
  le16(b, v & 0xFFFF);
  le16(b, v >> 16);
}

// A BMP file with a 40-byte header; `rows` are the stored rows (bottom row first
// unless the height is negative), already padded.
Bytes bmp(std::int32_t width, std::int32_t height, std::uint16_t bpp, const Bytes& palette,
          const Bytes& rows, std::uint32_t colorsUsed = 0, std::uint32_t compression = 0) {
  Bytes b;
  const auto offBits = static_cast<std::uint32_t>(14 + 40 + palette.size());
  b.push_back('B');
  b.push_back('M');
  le32(b, offBits + static_cast<std::uint32_t>(rows.size()));
  le32(b, 0);
  le32(b, offBits);
  le32(b, 40);
  le32(b, static_cast<std::uint32_t>(width));
  le32(b, static_cast<std::uint32_t>(height));
  le16(b, 1);
  le16(b, bpp);
  le32(b, compression);
  le32(b, static_cast<std::uint32_t>(rows.size()));
  le32(b, 2835);
  le32(b, 2835);
  le32(b, colorsUsed);
  le32(b, 0);
  b.insert(b.end(), palette.begin(), palette.end());
  b.insert(b.end(), rows.begin(), rows.end());
  return b;
}

// The classic 16-colour palette as BMP stores it (blue, green, red, 0).
Bytes palette16() {
  Bytes p;
  for (std::uint32_t argb : StandardPalette16()) {
    p.push_back(static_cast<std::uint8_t>(argb));
    p.push_back(static_cast<std::uint8_t>(argb >> 8));
    p.push_back(static_cast<std::uint8_t>(argb >> 16));
    p.push_back(0);
  }
  return p;
}

// 3 by 2 pixels, 4 bits: bottom row indices 0 9 15, top row 6 11 4.
Bytes glyph4() {
  const Bytes rows = {0x09, 0xF0, 0x00, 0x00,  // bottom row, padded to 4 bytes
                      0x6B, 0x40, 0x00, 0x00}; // top row
  return bmp(3, 2, 4, palette16(), rows);
}

} // namespace

TEST(Bitmap, ReadsFourBitsWithSixteenColourPalette) {
  TBitmap b;
  b.LoadFromBMP(glyph4());
  ASSERT_EQ(b.Width(), 3);
  ASSERT_EQ(b.Height(), 2);
  EXPECT_EQ(b.PixelFormat(), pf4bit);
  EXPECT_EQ(b.Palette().size(), 16u);
  EXPECT_EQ(b.Pixel(0, 0), 0xFF008080u); // index 6, teal
  EXPECT_EQ(b.Pixel(1, 0), 0xFFFFFF00u); // index 11, yellow
  EXPECT_EQ(b.Pixel(2, 0), 0xFF000080u); // index 4, navy
  EXPECT_EQ(b.Pixel(0, 1), 0xFF000000u);
  EXPECT_EQ(b.Pixel(1, 1), 0xFFFF0000u);
  EXPECT_EQ(b.Pixels(1, 1), clRed);
  EXPECT_EQ(b.PixelIndex(2, 1), 15);
  EXPECT_EQ(b.TransparentColor(), clBlack); // the bottom-left pixel
}

TEST(Bitmap, WritesFourBitsBackUnchanged) {
  const Bytes original = glyph4();
  TBitmap b;
  b.LoadFromBMP(original);
  EXPECT_EQ(b.SaveToBMP(), original);
}

TEST(Bitmap, ReadsOneEightTwentyFourAndThirtyTwoBits) {
  {
    const Bytes pal = {0, 0, 0, 0, 255, 255, 255, 0};
    TBitmap b;
    b.LoadFromBMP(bmp(10, 1, 1, pal, {0xA0, 0x40, 0, 0}));
    EXPECT_EQ(b.PixelFormat(), pf1bit);
    EXPECT_EQ(b.Pixels(0, 0), clWhite);
    EXPECT_EQ(b.Pixels(1, 0), clBlack);
    EXPECT_EQ(b.Pixels(2, 0), clWhite);
    EXPECT_EQ(b.Pixels(9, 0), clWhite);
    EXPECT_EQ(b.SaveToBMP(), bmp(10, 1, 1, pal, {0xA0, 0x40, 0, 0}, 0));
  }
  {
    const Bytes pal = {10, 20, 30, 0, 40, 50, 60, 0, 70, 80, 90, 0};
    TBitmap b;
    const Bytes data = bmp(2, 1, 8, pal, {2, 1, 0, 0}, 3);
    b.LoadFromBMP(data);
    EXPECT_EQ(b.PixelFormat(), pf8bit);
    EXPECT_EQ(b.Pixel(0, 0), 0xFF5A5046u);
    EXPECT_EQ(b.Pixel(1, 0), 0xFF3C3228u);
    EXPECT_EQ(b.SaveToBMP(), data);
  }
  {
    TBitmap b; // 2 rows, top-down, 24 bits
    b.LoadFromBMP(bmp(1, -2, 24, {}, {1, 2, 3, 0, 4, 5, 6, 0}));
    EXPECT_EQ(b.PixelFormat(), pf24bit);
    EXPECT_EQ(b.Pixel(0, 0), 0xFF030201u);
    EXPECT_EQ(b.Pixel(0, 1), 0xFF060504u);
  }
  {
    TBitmap b;
    b.LoadFromBMP(bmp(2, 1, 32, {}, {1, 2, 3, 0, 7, 8, 9, 0}));
    EXPECT_EQ(b.PixelFormat(), pf32bit);
    EXPECT_EQ(b.Pixel(1, 0), 0xFF090807u);
    EXPECT_EQ(b.SaveToBMP(), bmp(2, 1, 32, {}, {1, 2, 3, 0, 7, 8, 9, 0}));
  }
}

TEST(Bitmap, ReadsSixteenBitsWithAndWithoutMasks) {
  TBitmap b;
  // 5-5-5: pure red is 0x7C00.
  b.LoadFromBMP(bmp(1, 1, 16, {}, {0x00, 0x7C, 0, 0}));
  EXPECT_EQ(b.Pixel(0, 0), 0xFFFF0000u);
  EXPECT_EQ(b.PixelFormat(), pf15bit);
  // 5-6-5 masks after the header: pure green is 0x07E0.
  const Bytes masks = {0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
  b.LoadFromBMP(bmp(1, 1, 16, masks, {0xE0, 0x07, 0, 0}, 0, 3));
  EXPECT_EQ(b.Pixel(0, 0), 0xFF00FF00u);
  EXPECT_EQ(b.PixelFormat(), pf16bit);
}

TEST(Bitmap, AssignIsADeepCopy) {
  TBitmap a;
  a.LoadFromBMP(glyph4());
  TBitmap b;
  b.Assign(&a);
  a.SetPixels(0, 0, clWhite);
  EXPECT_EQ(b.Pixels(0, 0), clTeal);
  EXPECT_EQ(b.PixelFormat(), pf4bit);
  EXPECT_EQ(b.SaveToBMP(), glyph4());
  b.Assign(nullptr);
  EXPECT_TRUE(b.Empty());
  EXPECT_TRUE(b.SaveToBMP().empty());
}

TEST(Bitmap, BadDataRaisesAndLeavesTheImage) {
  TBitmap b;
  b.LoadFromBMP(glyph4());
  const Bytes good = glyph4();
  auto expectInvalid = [&](Bytes data) {
    EXPECT_THROW(b.LoadFromBMP(data), EInvalidGraphic);
    EXPECT_EQ(b.Width(), 3);
    EXPECT_EQ(b.SaveToBMP(), good);
  };
  expectInvalid({});
  expectInvalid({'B', 'M'});
  for (std::size_t n = 0; n < good.size(); ++n)
    expectInvalid(Bytes(good.begin(), good.begin() + n));
  Bytes bad = good;
  bad[0] = 'X';
  expectInvalid(bad);
  bad = good;
  bad[14] = 41; // header size
  expectInvalid(bad);
  bad = good;
  bad[28] = 7; // bits per pixel
  expectInvalid(bad);
  bad = good;
  bad[30] = 1; // run-length compression
  expectInvalid(bad);
  bad = good;
  bad[46] = 17; // more colours than 4 bits can index
  expectInvalid(bad);
  bad = good;
  bad[22] = 0; // height 0
  expectInvalid(bad);
  bad = good;
  bad[18] = 0xFF; // width 0x7FFFFFFF would need far more pixel data
  bad[19] = 0xFF;
  bad[20] = 0xFF;
  bad[21] = 0x7F;
  expectInvalid(bad);
  bad = good;
  bad[10] = 0xF0; // pixel data beyond the end
  expectInvalid(bad);
  bad = good;
  bad[10] = 2; // pixel data inside the header
  expectInvalid(bad);
  bad = good;
  bad[26] = 2; // planes
  expectInvalid(bad);
}

TEST(Bitmap, PixelFormatConversionsMapToThePalette) {
  TBitmap b;
  b.SetSize(2, 1);
  b.SetPixel(0, 0, 0xFF123456);
  b.SetPixelFormat(pf4bit);
  EXPECT_EQ(b.Palette().size(), 16u);
  EXPECT_EQ(b.Pixel(1, 0), 0xFFFFFFFFu);
  EXPECT_EQ(b.PixelIndex(1, 0), 15);
  b.SetPixels(0, 0, clRed);
  EXPECT_EQ(b.PixelIndex(0, 0), 9);
  TBitmap copy;
  copy.LoadFromBMP(b.SaveToBMP());
  EXPECT_EQ(copy.PixelFormat(), pf4bit);
  EXPECT_EQ(copy.Pixels(0, 0), clRed);
  b.SetPixelFormat(pf24bit);
  EXPECT_TRUE(b.Palette().empty());
  EXPECT_EQ(b.Pixels(0, 0), clRed);
}

TEST(Bitmap, SetSizeKeepsTheOverlap) {
  TBitmap b;
  b.SetSize(2, 2);
  b.SetPixels(1, 1, clBlue);
  b.SetSize(3, 3);
  EXPECT_EQ(b.Pixels(1, 1), clBlue);
  EXPECT_EQ(b.Pixels(2, 2), clWhite);
  b.SetSize(1, 1);
  EXPECT_EQ(b.Width(), 1);
  EXPECT_EQ(b.Pixels(5, 5), clNone);
}

TEST(Bitmap, PublishesItsDataAsBinary) {
  TBitmap b;
  const PropInfo* p = b.ClassType().findProperty("Data");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->kind, PropKind::Binary);
  EXPECT_FALSE(p->isStored(b));
  const Bytes data = glyph4();
  p->setBytes(b, data);
  EXPECT_EQ(b.Width(), 3);
  EXPECT_EQ(p->getBytes(b), data);
  EXPECT_EQ(p->getBytes(b)[0], 0x42); // "BM"
  p->setBytes(b, {});
  EXPECT_TRUE(b.Empty());
}

TEST(Colors, NamesValuesAndSystemColours) {
  EXPECT_EQ(RGB(91, 0, 91), 0x5B005B);
  EXPECT_EQ(ColorIdents().valueOf("clBtnFace"), std::optional<std::int64_t>(clBtnFace));
  EXPECT_EQ(ColorIdents().valueOf("clred"), std::optional<std::int64_t>(clRed));
  EXPECT_EQ(ColorToString(clWindowText), "clWindowText");
  EXPECT_EQ(ColorToString(RGB(91, 0, 91)), "$005B005B");
  EXPECT_TRUE(IsSystemColor(clBtnFace));
  EXPECT_FALSE(IsSystemColor(clSilver));
  EXPECT_FALSE(IsSystemColor(ColorToRGB(clBtnFace)));
  EXPECT_EQ(ColorToRGB(clWindow), clWhite);
  EXPECT_EQ(ColorToRGB(clPurple), clPurple);
}

TEST(Font, DefaultsSizeAndChangeEvents) {
  struct TSink : TObject {
    int changes = 0;
    void Changed(TObject*) { ++changes; }
  } sink;
  TFont f;
  EXPECT_EQ(f.Name(), "MS Sans Serif");
  EXPECT_EQ(f.Height(), -11);
  EXPECT_EQ(f.Size(), 8);
  EXPECT_EQ(f.Charset(), DEFAULT_CHARSET);
  EXPECT_EQ(f.Color(), clWindowText);
  f.SetOnChange(TNotifyEvent::bind<&TSink::Changed>(&sink));
  f.SetSize(9);
  EXPECT_EQ(f.Height(), -12);
  f.SetStyle(fontStyle(fsBold) | fontStyle(fsItalic));
  f.SetStyle(fontStyle(fsBold) | fontStyle(fsItalic));
  EXPECT_EQ(sink.changes, 2);

  TFont g;
  g.Assign(&f);
  EXPECT_TRUE(g == f);
  EXPECT_EQ(CharsetIdents().valueOf("DEFAULT_CHARSET"), std::optional<std::int64_t>(1));
  EXPECT_EQ(*CharsetIdents().nameOf(204), "RUSSIAN_CHARSET");
  const PropInfo* style = f.ClassType().findProperty("Style");
  ASSERT_NE(style, nullptr);
  EXPECT_EQ(style->kind, PropKind::Set);
  EXPECT_TRUE(style->isStored(TFont())); // an empty style is written too
  EXPECT_FALSE(f.ClassType().findProperty("Size")->isStored(f));
}
