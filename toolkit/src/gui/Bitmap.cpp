#include "keltk/Exception.h"
#include "keltk/Graphics.h"

#include <bit>
#include <fmt/format.h>
#include <fstream>
#include <iterator>

namespace keltk {

namespace {

constexpr std::uint32_t kOpaque = 0xFF000000u;
constexpr std::uint32_t kWhite = 0xFFFFFFFFu;
// Large enough for any glyph or picture a form carries, small enough that a few
// header bytes cannot ask for gigabytes.
constexpr std::int64_t kMaxSide = 32768;
constexpr std::int64_t kMaxPixels = std::int64_t{1} << 26;

enum : std::uint32_t { BI_RGB = 0, BI_BITFIELDS = 3, BI_ALPHABITFIELDS = 6 };

// The BMP layout: a 14-byte file header, then an info header whose first field is
// its own size. Field offsets count from the start of the file.
constexpr std::uint64_t kFileHeaderSize = 14;
constexpr std::uint64_t kPixelDataOffsetAt = 10; // in the file header: where the pixels start
constexpr std::uint64_t kInfoHeaderAt = kFileHeaderSize;
// The info header sizes: the short core header, the common one, and the two
// versions that carry the colour masks (RGB, then with alpha) in the header.
constexpr std::uint32_t kCoreHeaderSize = 12;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kRgbMasksHeaderSize = 52;
constexpr std::uint32_t kRgbaMasksHeaderSize = 56;
// Longer headers whose further fields (colour spaces, profiles) are not read.
constexpr std::uint32_t kOs2HeaderSize = 64;
constexpr std::uint32_t kV4HeaderSize = 108;
constexpr std::uint32_t kV5HeaderSize = 124;
// Fields of the core header (16-bit sizes).
constexpr std::uint64_t kCoreWidthAt = 18;
constexpr std::uint64_t kCoreHeightAt = 20;
constexpr std::uint64_t kCorePlanesAt = 22;
constexpr std::uint64_t kCoreBitsPerPixelAt = 24;
// Fields of the common header and its later versions.
constexpr std::uint64_t kWidthAt = 18;
constexpr std::uint64_t kHeightAt = 22;
constexpr std::uint64_t kPlanesAt = 26;
constexpr std::uint64_t kBitsPerPixelAt = 28;
constexpr std::uint64_t kCompressionAt = 30;
constexpr std::uint64_t kXPelsPerMeterAt = 38;
constexpr std::uint64_t kYPelsPerMeterAt = 42;
constexpr std::uint64_t kColorsUsedAt = 46;
// The masks right after the common header's fields (red, green, blue, alpha).
constexpr std::uint64_t kMasksAt = kInfoHeaderAt + kInfoHeaderSize;

[[noreturn]] void invalid(const char* why) {
  throw EInvalidGraphic(fmt::format("Bitmap image is not valid: {}", why));
}

// Little-endian reads that check every access against the buffer.
class ByteView {
public:
  explicit ByteView(std::span<const std::uint8_t> data) : data_(data) {}
  bool fits(std::uint64_t offset, std::uint64_t length) const {
    return offset <= data_.size() && length <= data_.size() - offset;
  }
  std::uint8_t u8(std::uint64_t offset) const {
    need(offset, 1);
    return data_[offset];
  }
  std::uint16_t u16(std::uint64_t offset) const {
    need(offset, 2);
    return static_cast<std::uint16_t>(data_[offset] | (data_[offset + 1] << 8));
  }
  std::uint32_t u32(std::uint64_t offset) const {
    need(offset, 4);
    return static_cast<std::uint32_t>(data_[offset]) |
           (static_cast<std::uint32_t>(data_[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(data_[offset + 2]) << 16) |
           (static_cast<std::uint32_t>(data_[offset + 3]) << 24);
  }
  std::int32_t i32(std::uint64_t offset) const { return static_cast<std::int32_t>(u32(offset)); }
  const std::uint8_t* at(std::uint64_t offset) const { return data_.data() + offset; }

private:
  void need(std::uint64_t offset, std::uint64_t length) const {
    if (!fits(offset, length)) invalid("truncated data");
  }
  std::span<const std::uint8_t> data_;
};

// One channel of a bit-field pixel, scaled to 8 bits.
struct Channel {
  std::uint32_t mask = 0;
  int shift = 0;
  std::uint64_t max = 0;

  explicit Channel(std::uint32_t m) : mask(m) {
    if (m == 0) return;
    shift = std::countr_zero(m);
    max = (std::uint64_t{1} << std::popcount(m >> shift)) - 1;
  }
  std::uint32_t scaled(std::uint32_t pixel, std::uint32_t absent) const {
    if (mask == 0) return absent;
    const std::uint64_t v = (pixel & mask) >> shift;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(v, max) * 255 / max);
  }
};

std::uint32_t argbOf(TColor c) {
  return kOpaque | (static_cast<std::uint32_t>(GetRValue(c)) << 16) |
         (static_cast<std::uint32_t>(GetGValue(c)) << 8) | static_cast<std::uint32_t>(GetBValue(c));
}

TColor colorOf(std::uint32_t argb) {
  return RGB(static_cast<int>((argb >> 16) & 0xFF), static_cast<int>((argb >> 8) & 0xFF),
             static_cast<int>(argb & 0xFF));
}

int bitsPerPixel(TPixelFormat f) {
  switch (f) {
  case pf1bit:
    return 1;
  case pf4bit:
    return 4;
  case pf8bit:
    return 8;
  case pf32bit:
    return 32;
  default:
    return 24;
  }
}

std::vector<std::uint32_t> standardPalette(TPixelFormat f) {
  if (f == pf1bit) return {kOpaque, kWhite};
  if (f == pf4bit) return StandardPalette16();
  // 8 bits: 3 bits of red, 3 of green, 2 of blue.
  std::vector<std::uint32_t> p;
  p.reserve(256);
  for (std::uint32_t i = 0; i < 256; ++i) {
    const std::uint32_t r = ((i >> 5) & 7) * 255 / 7;
    const std::uint32_t g = ((i >> 2) & 7) * 255 / 7;
    const std::uint32_t b = (i & 3) * 255 / 3;
    p.push_back(kOpaque | (r << 16) | (g << 8) | b);
  }
  return p;
}

void put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

} // namespace

const std::vector<std::uint32_t>& StandardPalette16() {
  static const std::vector<std::uint32_t> palette = {
      0xFF000000, 0xFF800000, 0xFF008000, 0xFF808000, 0xFF000080, 0xFF800080,
      0xFF008080, 0xFFC0C0C0, 0xFF808080, 0xFFFF0000, 0xFF00FF00, 0xFFFFFF00,
      0xFF0000FF, 0xFFFF00FF, 0xFF00FFFF, 0xFFFFFFFF};
  return palette;
}

TBitmap::TBitmap() = default;
TBitmap::~TBitmap() = default;

const TClassInfo& TBitmap::StaticClass() {
  static TClassInfo info("TBitmap", &TPersistent::StaticClass(), [](TClassInfo& i) {
    // Stored data carries the image as a whole BMP file: `Bitmap.Data = {424D...}`.
    ClassBuilder<TBitmap>(i).binary(
        "Data", [](const TBitmap& b) { return b.SaveToBMP(); },
        [](TBitmap& b, std::span<const std::uint8_t> bytes) {
          if (bytes.empty())
            b.Clear();
          else
            b.LoadFromBMP(bytes);
        });
  });
  return info;
}

void TBitmap::changed() {
  if (onChange_) onChange_(this);
}

bool TBitmap::paletted() const {
  return pixelFormat_ == pf1bit || pixelFormat_ == pf4bit || pixelFormat_ == pf8bit;
}

void TBitmap::Clear() {
  if (Empty() && pixels_.empty()) return;
  width_ = height_ = 0;
  pixels_.clear();
  indices_.clear();
  changed();
}

void TBitmap::SetSize(int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (width == width_ && height == height_) return;
  if (static_cast<std::int64_t>(width) * height > kMaxPixels)
    throw EInvalidGraphic(fmt::format("Bitmap of {} by {} pixels is too large", width, height));
  const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  std::vector<std::uint32_t> pixels(count, kWhite);
  std::vector<std::uint8_t> indices;
  if (paletted()) indices.assign(count, static_cast<std::uint8_t>(nearestIndex(kWhite)));
  for (int y = 0; y < std::min(height, height_); ++y)
    for (int x = 0; x < std::min(width, width_); ++x) {
      const auto from = static_cast<std::size_t>(y) * width_ + x;
      const auto to = static_cast<std::size_t>(y) * width + x;
      pixels[to] = pixels_[from];
      if (paletted() && !indices_.empty()) indices[to] = indices_[from];
    }
  if (paletted())
    for (std::size_t i = 0; i < count; ++i)
      if (indices[i] < palette_.size()) pixels[i] = palette_[indices[i]];
  width_ = width;
  height_ = height;
  pixels_ = std::move(pixels);
  indices_ = std::move(indices);
  changed();
}

int TBitmap::nearestIndex(std::uint32_t argb) const {
  int best = 0;
  std::int64_t bestDistance = -1;
  for (std::size_t i = 0; i < palette_.size(); ++i) {
    const std::uint32_t p = palette_[i];
    const std::int64_t dr = static_cast<std::int64_t>((p >> 16) & 0xFF) - ((argb >> 16) & 0xFF);
    const std::int64_t dg = static_cast<std::int64_t>((p >> 8) & 0xFF) - ((argb >> 8) & 0xFF);
    const std::int64_t db = static_cast<std::int64_t>(p & 0xFF) - (argb & 0xFF);
    const std::int64_t d = dr * dr + dg * dg + db * db;
    if (bestDistance < 0 || d < bestDistance) {
      best = static_cast<int>(i);
      bestDistance = d;
      if (d == 0) break;
    }
  }
  return best;
}

void TBitmap::remapToPalette() {
  indices_.resize(pixels_.size());
  for (std::size_t i = 0; i < pixels_.size(); ++i) {
    const int index = nearestIndex(pixels_[i]);
    indices_[i] = static_cast<std::uint8_t>(index);
    pixels_[i] = palette_[static_cast<std::size_t>(index)];
  }
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
  if (format == pixelFormat_) return;
  pixelFormat_ = format;
  if (paletted()) {
    const std::size_t limit = std::size_t{1} << bitsPerPixel(format);
    if (palette_.empty() || palette_.size() > limit) palette_ = standardPalette(format);
    remapToPalette();
  } else {
    palette_.clear();
    indices_.clear();
  }
  changed();
}

std::uint32_t TBitmap::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  return pixels_[static_cast<std::size_t>(y) * width_ + x];
}

void TBitmap::SetPixel(int x, int y, std::uint32_t argb) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  const std::size_t i = static_cast<std::size_t>(y) * width_ + x;
  if (paletted()) {
    const int index = nearestIndex(argb);
    indices_[i] = static_cast<std::uint8_t>(index);
    argb = palette_[static_cast<std::size_t>(index)];
  }
  pixels_[i] = argb;
  changed();
}

TColor TBitmap::Pixels(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return clNone;
  return colorOf(Pixel(x, y));
}

void TBitmap::SetPixels(int x, int y, TColor color) {
  SetPixel(x, y, argbOf(ColorToRGB(color)));
}

int TBitmap::PixelIndex(int x, int y) const {
  if (!paletted() || x < 0 || y < 0 || x >= width_ || y >= height_) return -1;
  return indices_[static_cast<std::size_t>(y) * width_ + x];
}

const std::uint32_t* TBitmap::ScanLine(int y) const {
  if (y < 0 || y >= height_) return nullptr;
  return pixels_.data() + static_cast<std::size_t>(y) * width_;
}

TColor TBitmap::TransparentColor() const {
  if (Empty()) return clNone;
  return colorOf(Pixel(0, height_ - 1));
}

void TBitmap::LoadFromBMP(std::span<const std::uint8_t> data) {
  const ByteView in(data);
  if (!in.fits(0, kFileHeaderSize + kCoreHeaderSize)) invalid("truncated data");
  if (in.u8(0) != 'B' || in.u8(1) != 'M') invalid("missing BM signature");
  const std::uint32_t offBits = in.u32(kPixelDataOffsetAt);
  const std::uint32_t headerSize = in.u32(kInfoHeaderAt);
  switch (headerSize) {
  case kCoreHeaderSize:
  case kInfoHeaderSize:
  case kRgbMasksHeaderSize:
  case kRgbaMasksHeaderSize:
  case kOs2HeaderSize:
  case kV4HeaderSize:
  case kV5HeaderSize:
    break;
  default:
    invalid("unknown header");
  }
  if (!in.fits(kInfoHeaderAt, headerSize)) invalid("truncated header");

  const bool core = headerSize == kCoreHeaderSize;
  std::int64_t width = 0;
  std::int64_t height = 0;
  std::uint32_t planes = 0;
  std::uint32_t bpp = 0;
  std::uint32_t compression = BI_RGB;
  std::uint32_t colorsUsed = 0;
  std::int32_t xPels = 0;
  std::int32_t yPels = 0;
  if (core) {
    width = in.u16(kCoreWidthAt);
    height = in.u16(kCoreHeightAt);
    planes = in.u16(kCorePlanesAt);
    bpp = in.u16(kCoreBitsPerPixelAt);
  } else {
    width = in.i32(kWidthAt);
    height = in.i32(kHeightAt);
    planes = in.u16(kPlanesAt);
    bpp = in.u16(kBitsPerPixelAt);
    compression = in.u32(kCompressionAt);
    xPels = in.i32(kXPelsPerMeterAt);
    yPels = in.i32(kYPelsPerMeterAt);
    colorsUsed = in.u32(kColorsUsedAt);
  }
  if (planes != 1) invalid("plane count is not 1");
  const bool topDown = height < 0;
  if (topDown) height = -height;
  if (width <= 0 || height <= 0) invalid("empty image");
  if (width > kMaxSide || height > kMaxSide || width * height > kMaxPixels)
    invalid("image too large");

  // Where the palette (or the bit-field masks of a short header) starts.
  std::uint64_t tableOffset = kInfoHeaderAt + headerSize;
  std::uint32_t masks[4] = {0, 0, 0, 0};
  bool bitFields = false;
  if (compression == BI_BITFIELDS || compression == BI_ALPHABITFIELDS) {
    if (bpp != 16 && bpp != 32) invalid("bit fields need 16 or 32 bits per pixel");
    bitFields = true;
    if (headerSize >= kRgbMasksHeaderSize) {
      // Version 2 and later headers carry the masks themselves.
      for (int i = 0; i < 3; ++i)
        masks[i] = in.u32(kMasksAt + 4 * static_cast<std::uint64_t>(i));
      if (headerSize >= kRgbaMasksHeaderSize) masks[3] = in.u32(kMasksAt + 4 * 3);
    } else {
      const int count = compression == BI_ALPHABITFIELDS ? 4 : 3;
      for (int i = 0; i < count; ++i)
        masks[i] = in.u32(tableOffset + 4 * static_cast<std::uint64_t>(i));
      tableOffset += 4 * static_cast<std::uint64_t>(count);
    }
  } else if (compression != BI_RGB) {
    invalid("compressed images are not supported");
  }

  std::vector<std::uint32_t> palette;
  TPixelFormat format = pfDevice;
  switch (bpp) {
  case 1:
    format = pf1bit;
    break;
  case 4:
    format = pf4bit;
    break;
  case 8:
    format = pf8bit;
    break;
  case 16:
    format = pf16bit;
    break;
  case 24:
    format = pf24bit;
    break;
  case 32:
    format = pf32bit;
    break;
  default:
    invalid("unsupported bits per pixel");
  }
  if (bpp <= 8) {
    const std::uint32_t limit = 1u << bpp;
    const std::uint32_t count = colorsUsed == 0 ? limit : colorsUsed;
    if (count > limit) invalid("palette too large");
    const std::uint32_t entry = core ? 3 : 4;
    if (!in.fits(tableOffset, std::uint64_t{count} * entry)) invalid("truncated palette");
    palette.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint64_t at = tableOffset + std::uint64_t{i} * entry;
      palette.push_back(kOpaque | (std::uint32_t{in.u8(at + 2)} << 16) |
                        (std::uint32_t{in.u8(at + 1)} << 8) | in.u8(at));
    }
  }
  if (bpp == 16 && !bitFields) {
    masks[0] = 0x7C00;
    masks[1] = 0x03E0;
    masks[2] = 0x001F;
  }
  if (bpp == 16) format = (masks[1] == 0x07E0) ? pf16bit : pf15bit;

  const std::uint64_t rowBytes = ((static_cast<std::uint64_t>(width) * bpp + 31) / 32) * 4;
  if (offBits < kInfoHeaderAt + headerSize) invalid("pixel data overlaps the header");
  if (!in.fits(offBits, rowBytes * static_cast<std::uint64_t>(height)))
    invalid("truncated pixel data");

  const auto w = static_cast<std::size_t>(width);
  const auto h = static_cast<std::size_t>(height);
  std::vector<std::uint32_t> pixels(w * h);
  std::vector<std::uint8_t> indices;
  if (bpp <= 8) indices.resize(w * h);
  const Channel red(masks[0]), green(masks[1]), blue(masks[2]), alpha(masks[3]);

  for (std::size_t row = 0; row < h; ++row) {
    const std::size_t y = topDown ? row : h - 1 - row;
    const std::uint8_t* src = in.at(offBits + row * rowBytes);
    std::uint32_t* dst = pixels.data() + y * w;
    for (std::size_t x = 0; x < w; ++x) {
      switch (bpp) {
      case 1:
      case 4:
      case 8: {
        const std::size_t bit = x * bpp;
        const unsigned shift = 8 - bpp - (bit % 8);
        const auto index = static_cast<std::uint8_t>((src[bit / 8] >> shift) & ((1u << bpp) - 1));
        indices[y * w + x] = index;
        dst[x] = index < palette.size() ? palette[index] : kOpaque;
        break;
      }
      case 16: {
        const std::uint32_t v = src[2 * x] | (src[2 * x + 1] << 8);
        dst[x] = (alpha.scaled(v, 255) << 24) | (red.scaled(v, 0) << 16) |
                 (green.scaled(v, 0) << 8) | blue.scaled(v, 0);
        break;
      }
      case 24:
        dst[x] = kOpaque | (std::uint32_t{src[3 * x + 2]} << 16) |
                 (std::uint32_t{src[3 * x + 1]} << 8) | src[3 * x];
        break;
      case 32: {
        const std::uint8_t* p = src + 4 * x;
        const std::uint32_t v = p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
        if (bitFields)
          dst[x] = (alpha.scaled(v, 255) << 24) | (red.scaled(v, 0) << 16) |
                   (green.scaled(v, 0) << 8) | blue.scaled(v, 0);
        else
          dst[x] = kOpaque | (v & 0xFFFFFF); // the fourth byte is reserved
        break;
      }
      }
    }
  }

  width_ = static_cast<int>(width);
  height_ = static_cast<int>(height);
  pixelFormat_ = format;
  pixels_ = std::move(pixels);
  indices_ = std::move(indices);
  palette_ = std::move(palette);
  xPelsPerMeter_ = xPels;
  yPelsPerMeter_ = yPels;
  changed();
}

std::vector<std::uint8_t> TBitmap::SaveToBMP() const {
  if (Empty()) return {};
  const bool withPalette = paletted();
  const auto bpp = static_cast<std::uint32_t>(withPalette               ? bitsPerPixel(pixelFormat_)
                                              : pixelFormat_ == pf32bit ? 32
                                                                        : 24);
  const auto paletteCount = static_cast<std::uint32_t>(withPalette ? palette_.size() : 0);
  const std::uint64_t rowBytes = ((static_cast<std::uint64_t>(width_) * bpp + 31) / 32) * 4;
  const auto offBits =
      static_cast<std::uint32_t>(kInfoHeaderAt + kInfoHeaderSize + 4 * paletteCount);
  const std::uint64_t imageSize = rowBytes * static_cast<std::uint64_t>(height_);

  std::vector<std::uint8_t> out;
  out.reserve(offBits + imageSize);
  out.push_back('B');
  out.push_back('M');
  put32(out, static_cast<std::uint32_t>(offBits + imageSize));
  put32(out, 0);
  put32(out, offBits);
  put32(out, kInfoHeaderSize);
  put32(out, static_cast<std::uint32_t>(width_));
  put32(out, static_cast<std::uint32_t>(height_));
  put16(out, 1);
  put16(out, bpp);
  put32(out, BI_RGB);
  put32(out, static_cast<std::uint32_t>(imageSize));
  put32(out, static_cast<std::uint32_t>(xPelsPerMeter_));
  put32(out, static_cast<std::uint32_t>(yPelsPerMeter_));
  put32(out, withPalette && paletteCount < (1u << bpp) ? paletteCount : 0);
  put32(out, 0);
  for (std::uint32_t i = 0; i < paletteCount; ++i) {
    const std::uint32_t p = palette_[i];
    out.push_back(static_cast<std::uint8_t>(p));
    out.push_back(static_cast<std::uint8_t>(p >> 8));
    out.push_back(static_cast<std::uint8_t>(p >> 16));
    out.push_back(0);
  }
  const auto w = static_cast<std::size_t>(width_);
  for (int row = height_ - 1; row >= 0; --row) {
    const std::size_t start = out.size();
    const std::uint32_t* src = pixels_.data() + static_cast<std::size_t>(row) * w;
    if (withPalette) {
      out.resize(start + rowBytes, 0);
      const std::uint8_t* idx = indices_.data() + static_cast<std::size_t>(row) * w;
      for (std::size_t x = 0; x < w; ++x) {
        const std::size_t bit = x * bpp;
        const unsigned shift = 8 - bpp - (bit % 8);
        out[start + bit / 8] |= static_cast<std::uint8_t>((idx[x] & ((1u << bpp) - 1)) << shift);
      }
      continue;
    }
    for (std::size_t x = 0; x < w; ++x) {
      out.push_back(static_cast<std::uint8_t>(src[x]));
      out.push_back(static_cast<std::uint8_t>(src[x] >> 8));
      out.push_back(static_cast<std::uint8_t>(src[x] >> 16));
      if (bpp == 32) out.push_back(0);
    }
    out.resize(start + rowBytes, 0);
  }
  return out;
}

void TBitmap::LoadFromFile(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) throw EInOutError(fmt::format("Cannot open file \"{}\"", fileName));
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
  LoadFromBMP(bytes);
}

void TBitmap::SaveToFile(const std::string& fileName) const {
  const std::vector<std::uint8_t> bytes = SaveToBMP();
  std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
  if (!out) throw EInOutError(fmt::format("Cannot create file \"{}\"", fileName));
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw EInOutError(fmt::format("Cannot write file \"{}\"", fileName));
}

void TBitmap::Assign(const TPersistent* source) {
  if (source == nullptr) {
    Clear();
    return;
  }
  const TBitmap* other = ObjectAs<TBitmap>(source);
  if (other == nullptr) {
    TPersistent::Assign(source);
    return;
  }
  if (other == this) return;
  width_ = other->width_;
  height_ = other->height_;
  pixelFormat_ = other->pixelFormat_;
  pixels_ = other->pixels_;
  indices_ = other->indices_;
  palette_ = other->palette_;
  xPelsPerMeter_ = other->xPelsPerMeter_;
  yPelsPerMeter_ = other->yPelsPerMeter_;
  changed();
}

} // namespace keltk
