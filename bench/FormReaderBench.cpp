// Reading a large stored form against the floor of merely splitting its text
// into lines: the reader should stay within a small factor of the floor.
#include "FormModel.h"
#include "keltk/Reader.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

using namespace keltk;
using namespace fmtest;

namespace {

// 1,000 commands with 10 parameters each, written as the writer would.
const std::string& thousandCommands() {
  static const std::string text = [] {
    static const char* const kinds[] = {"fkPlain", "fkFancy", "fkOdd"};
    std::string t = "object Bench: TFmForm\n  Title = 'Benchmark Plugin'\n  Commands = <";
    for (int c = 0; c < 1000; ++c) {
      std::string n = std::to_string(c);
      t += "\n    item\n      Name = 'Command_" + n +
           "'\n      Caption = 'Runs the command number " + n + " of the benchmark plug-in'" +
           "\n      Enabled = " + (c % 3 == 0 ? "False" : "True") +
           "\n      Weight = " + std::to_string(c * 37 - 5000) + "\n      Params = <";
      for (int p = 0; p < 10; ++p) {
        t += "\n        item\n          ParamName = 'Param_" + std::to_string(p) +
             "'\n          ParamType = " + kinds[(c + p) % 3] + "\n        end";
      }
      t += ">\n    end";
    }
    t += ">\nend\n";
    return t;
  }();
  return text;
}

// The floor runs first: measured after the reader, whose many small frees leave the
// allocator in another state, it ran several times slower.
void BM_ReadFormFloor(benchmark::State& state) {
  const std::string& text = thousandCommands();
  for (auto _ : state) {
    std::istringstream in(text);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line))
      lines.push_back(line);
    benchmark::DoNotOptimize(lines.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ReadFormFloor)->Unit(benchmark::kMillisecond);

void BM_ReadForm1000Commands(benchmark::State& state) {
  const std::string& text = thousandCommands();
  for (auto _ : state) {
    TFmForm root(nullptr);
    ReadComponentFromText(text, &root);
    if (root.commands.Count() != 1000) state.SkipWithError("the form was not read whole");
    benchmark::DoNotOptimize(root.commands.Count());
    fmLog.clear();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ReadForm1000Commands)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
