// BMP data from stored forms: any bytes either load or raise EInvalidGraphic, and
// whatever loads writes back to data that loads to the same pixels.
#include "keltk/Exception.h"
#include "keltk/Graphics.h"

#include <cstdint>
#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  keltk::TBitmap bitmap;
  try {
    bitmap.LoadFromBMP(std::span<const std::uint8_t>(data, size));
  } catch (const keltk::EInvalidGraphic&) {
    return 0;
  }
  keltk::TBitmap copy;
  copy.LoadFromBMP(bitmap.SaveToBMP());
  if (copy.Width() != bitmap.Width() || copy.Height() != bitmap.Height()) std::abort();
  for (int y = 0; y < bitmap.Height(); ++y)
    for (int x = 0; x < bitmap.Width(); ++x)
      if ((copy.Pixel(x, y) & 0xFFFFFF) != (bitmap.Pixel(x, y) & 0xFFFFFF)) std::abort();
  return 0;
}
