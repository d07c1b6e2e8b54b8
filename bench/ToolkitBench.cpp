// Toolkit services the framework leans on per log entry or per form: time stamps,
// number formatting, long string lists and bitmap data.
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdint>
#include <keltk/Graphics.h>
#include <keltk/Strings.h>
#include <keltk/SysUtils.h>
#include <string>
#include <time.h>
#include <vector>

namespace {

// The log's time stamp. The clock advances a millisecond per call, so the cached
// zone offset is reused within a quarter hour and refreshed across blocks.
void BM_FormatDateTime(benchmark::State& state) {
  auto t = std::chrono::system_clock::now();
  for (auto _ : state) {
    benchmark::DoNotOptimize(keltk::FormatDateTime("yyyy/mm/dd hh:nn:ss.zzz", t));
    t += std::chrono::milliseconds(1);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatDateTime);

// What a stamp costs when every call asks the C library for the local time.
void BM_LocaltimeFloor(benchmark::State& state) {
  auto t = std::chrono::system_clock::now();
  char buf[64];
  for (auto _ : state) {
    const time_t secs = std::chrono::system_clock::to_time_t(t);
    struct tm parts {};
    localtime_r(&secs, &parts);
    benchmark::DoNotOptimize(strftime(buf, sizeof buf, "%Y/%m/%d %H:%M:%S", &parts));
    t += std::chrono::milliseconds(1);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LocaltimeFloor);

void BM_FormatNumber(benchmark::State& state) {
  double v = 1234567.891;
  for (auto _ : state) {
    benchmark::DoNotOptimize(keltk::FormatNumber(v, 2));
    v += 1.0;
  }
}
BENCHMARK(BM_FormatNumber);

// A million 100-character lines: time to add them and bytes held per byte of text.
void BM_StringListMillionLines(benchmark::State& state) {
  const std::string line(100, 'x');
  double ratio = 0;
  for (auto _ : state) {
    keltk::TStringList list;
    for (int i = 0; i < 1'000'000; ++i)
      list.Add(line);
    ratio =
        static_cast<double>(list.MemoryUsed()) / (1'000'000.0 * static_cast<double>(line.size()));
    benchmark::DoNotOptimize(list.Count());
  }
  state.counters["bytes_per_text_byte"] = ratio;
}
BENCHMARK(BM_StringListMillionLines)->Unit(benchmark::kMillisecond)->Iterations(3);

// A 36 by 18 glyph at 4 bits per pixel, as a command bitmap in stored data.
std::vector<std::uint8_t> glyph() {
  keltk::TBitmap b;
  b.SetSize(36, 18);
  b.SetPixelFormat(keltk::pf4bit);
  for (int y = 0; y < 18; ++y)
    for (int x = 0; x < 36; ++x)
      b.SetPixels(x, y, (x + y) % 2 ? keltk::clYellow : keltk::clTeal);
  return b.SaveToBMP();
}

void BM_BitmapLoadGlyph(benchmark::State& state) {
  const std::vector<std::uint8_t> data = glyph();
  keltk::TBitmap b;
  for (auto _ : state) {
    b.LoadFromBMP(data);
    benchmark::DoNotOptimize(b.Pixel(0, 0));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(data.size()));
}
BENCHMARK(BM_BitmapLoadGlyph);

} // namespace

BENCHMARK_MAIN();
