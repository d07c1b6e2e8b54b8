// Reading a large stored form against the floor of merely splitting its text
// into lines: the reader should stay within a small factor of the floor.
#include "keltk/Collection.h"
#include "keltk/Component.h"
#include "keltk/PropInfo.h"
#include "keltk/Reader.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

using namespace keltk;

namespace {

const EnumInfo& typeInfo() {
  static const EnumInfo info =
      EnumInfo::sequence("TBnType", {"btInteger", "btBoolean", "btString", "btObject"});
  return info;
}

class TBnParam : public TCollectionItem {
public:
  using TCollectionItem::TCollectionItem;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }
  std::string name;
  std::uint8_t type = 0;
  bool optional = false;
};

const TClassInfo& TBnParam::StaticClass() {
  static TClassInfo info("TBnParam", &TCollectionItem::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<TBnParam> b(i);
    b.itemFactory();
    b.string("ParamName", &TBnParam::name);
    b.enumeration("ParamType", typeInfo(), &TBnParam::type).defaultValue(0);
    b.boolean("Optional", &TBnParam::optional).defaultValue(0);
  });
  return info;
}

class TBnCommand : public TCollectionItem {
public:
  explicit TBnCommand(TCollection* c) : TCollectionItem(c), params(TBnParam::StaticClass()) {}
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }
  std::string name, caption, hint;
  std::int32_t weight = 0;
  bool enabled = true;
  std::uint8_t kind = 0;
  TCollection params;
  TCollection* Params() { return &params; }
};

const TClassInfo& TBnCommand::StaticClass() {
  static TClassInfo info("TBnCommand", &TCollectionItem::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<TBnCommand> b(i);
    b.itemFactory();
    b.string("Name", &TBnCommand::name);
    b.string("Caption", &TBnCommand::caption);
    b.string("Hint", &TBnCommand::hint);
    b.integer("Weight", &TBnCommand::weight).defaultValue(0);
    b.boolean("Enabled", &TBnCommand::enabled);
    b.enumeration("Kind", typeInfo(), &TBnCommand::kind).defaultValue(0);
    b.object("Params", &TBnCommand::Params);
  });
  return info;
}

class TBnRoot : public TComponent {
public:
  TBnRoot() : TComponent(nullptr), commands(TBnCommand::StaticClass()) {}
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }
  std::string deepName;
  TCollection commands;
  TCollection* Commands() { return &commands; }
};

const TClassInfo& TBnRoot::StaticClass() {
  static TClassInfo info("TBnRoot", &TComponent::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<TBnRoot> b(i);
    b.string("DeepName", &TBnRoot::deepName);
    b.object("Commands", &TBnRoot::Commands);
  });
  return info;
}

// 1,000 commands with 10 parameters each, written as the writer would.
const std::string& thousandCommands() {
  static const std::string text = [] {
    static const char* const types[] = {"btInteger", "btBoolean", "btString", "btObject"};
    std::string t = "object Bench: TBnRoot\n  DeepName = 'Benchmark Plugin'\n  Commands = <";
    for (int c = 0; c < 1000; ++c) {
      std::string n = std::to_string(c);
      t += "\n    item\n      Name = 'Command_" + n + "'\n      Caption = 'Run command " + n +
           "'\n      Hint = 'Runs the command number " + n + " of the benchmark plug-in'" +
           "\n      Weight = " + std::to_string(c * 37 - 5000) +
           "\n      Enabled = " + (c % 3 == 0 ? "False" : "True") +
           "\n      Kind = " + types[c % 4] + "\n      Params = <";
      for (int p = 0; p < 10; ++p) {
        t += "\n        item\n          ParamName = 'Param_" + std::to_string(p) +
             "'\n          ParamType = " + types[(c + p) % 4] +
             "\n          Optional = " + (p % 2 == 0 ? "True" : "False") + "\n        end";
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
    TBnRoot root;
    ReadComponentFromText(text, &root);
    if (root.commands.Count() != 1000) state.SkipWithError("the form was not read whole");
    benchmark::DoNotOptimize(root.commands.Count());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ReadForm1000Commands)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
