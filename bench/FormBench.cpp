// A shown window of 50 controls (two panels holding two group boxes, and in them
// labels, edits, buttons, check boxes, combo boxes, a memo and a list) created
// from its stored form and freed, against building and destroying the same Qt
// widgets directly, same types and geometry. Goal: at most twice the direct cost.
// Runs offscreen unless a display is named.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <fmt/format.h>
#include <keltk/Application.h>
#include <keltk/Forms.h>
#include <keltk/PropInfo.h>
#include <keltk/QtBackend.h>
#include <keltk/Resources.h>
#include <string>
#include <vector>

namespace {

enum class Kind { Panel, GroupBox, Label, Edit, Button, CheckBox, ComboBox, Memo, ListBox };

struct Control {
  Kind kind;
  std::string name;
  int parent; // index into the list, -1 for the form
  int left, top, width, height;
};

const char* className(Kind kind) {
  static const char* const names[] = {"TPanel",    "TGroupBox", "TLabel", "TEdit",   "TButton",
                                      "TCheckBox", "TComboBox", "TMemo",  "TListBox"};
  return names[static_cast<int>(kind)];
}

// Two panels, a group box in each, and 46 controls spread over the four.
std::vector<Control> window50() {
  std::vector<Control> all = {{Kind::Panel, "Panel1", -1, 0, 0, 640, 240},
                              {Kind::Panel, "Panel2", -1, 0, 240, 640, 240},
                              {Kind::GroupBox, "Group1", 0, 320, 8, 312, 224},
                              {Kind::GroupBox, "Group2", 1, 320, 8, 312, 224}};
  const std::pair<Kind, int> mix[] = {{Kind::Label, 13},   {Kind::Edit, 10},    {Kind::Button, 8},
                                      {Kind::CheckBox, 8}, {Kind::ComboBox, 5}, {Kind::Memo, 1},
                                      {Kind::ListBox, 1}};
  int placed[4] = {};
  for (const auto& [kind, count] : mix)
    for (int i = 0; i < count; ++i) {
      const int n = static_cast<int>(all.size());
      const int parent = n % 4;
      const int slot = placed[parent]++;
      all.push_back({kind, fmt::format("{}{}", className(kind) + 1, n), parent,
                     8 + (slot % 2) * 150, 20 + (slot / 2) * 28, 140, 24});
    }
  return all;
}

std::string storedForm(const std::vector<Control>& controls) {
  std::string text = "object BenchForm: TBenchForm\n  Caption = 'Fifty'\n"
                     "  ClientWidth = 640\n  ClientHeight = 480\n";
  // Children nest in their parent's block, so each parent writes its own.
  auto write = [&](auto& self, int parent, int depth) -> void {
    const std::string pad(depth * 2, ' ');
    for (int i = 0; i < static_cast<int>(controls.size()); ++i) {
      const Control& c = controls[i];
      if (c.parent != parent) continue;
      text += fmt::format("{}object {}: {}\n{}  Left = {}\n{}  Top = {}\n{}  Width = {}\n"
                          "{}  Height = {}\n",
                          pad, c.name, className(c.kind), pad, c.left, pad, c.top, pad, c.width,
                          pad, c.height);
      switch (c.kind) {
      case Kind::Label:
        text += fmt::format("{}  AutoSize = False\n{}  Caption = '{}'\n", pad, pad, c.name);
        break;
      case Kind::Edit:
        text += fmt::format("{}  Text = '{}'\n", pad, c.name);
        break;
      case Kind::ComboBox:
        text += fmt::format("{}  Items.Strings = (\n{}    'One'\n{}    'Two'\n{}    'Three')\n"
                            "{}  ItemIndex = 0\n",
                            pad, pad, pad, pad, pad);
        break;
      case Kind::Memo:
        text += fmt::format("{}  Lines.Strings = (\n{}    'First line'\n{}    'Second line')\n",
                            pad, pad, pad);
        break;
      case Kind::ListBox:
        text += fmt::format("{}  Items.Strings = (\n{}    'One'\n{}    'Two'\n{}    'Three')\n",
                            pad, pad, pad, pad);
        break;
      default:
        text += fmt::format("{}  Caption = '{}'\n", pad, c.name);
      }
      self(self, i, depth + 1);
      text += pad + "end\n";
    }
  };
  write(write, -1, 1);
  return text + "end\n";
}

class TBenchForm : public keltk::TForm {
public:
  using TForm::TForm;
  static const keltk::TClassInfo& StaticClass() {
    static keltk::TClassInfo info("TBenchForm", &TForm::StaticClass());
    return info;
  }
  const keltk::TClassInfo& ClassType() const override { return StaticClass(); }
};

struct Program {
  Program() {
    if (std::getenv("DISPLAY") == nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr)
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
    qt = new QApplication(argc, argv);
    keltk::InstallQtBackend(argc, argv);
    keltk::RegisterFormResource(form, &TBenchForm::StaticClass());
  }

  int argc = 1;
  char name[11] = "form_bench";
  char* argv[2] = {name, nullptr};
  QApplication* qt = nullptr;
  std::vector<Control> controls = window50();
  std::string form = storedForm(controls);
};

Program& program() {
  static Program* shared = new Program; // lives until the process ends, as Qt does
  return *shared;
}

void BM_CreateForm50(benchmark::State& state) {
  program();
  for (auto _ : state) {
    auto* form = keltk::CreateObject<TBenchForm>(nullptr);
    form->Show();
    QCoreApplication::processEvents();
    keltk::FreeObject(form);
    QCoreApplication::processEvents();
  }
}
BENCHMARK(BM_CreateForm50)->Unit(benchmark::kMicrosecond);

QWidget* qtWidget(const Control& c, QWidget* parent) {
  const QString text = QString::fromStdString(c.name);
  switch (c.kind) {
  case Kind::Panel: {
    auto* frame = new QFrame(parent);
    frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
    return frame;
  }
  case Kind::GroupBox:
    return new QGroupBox(text, parent);
  case Kind::Label:
    return new QLabel(text, parent);
  case Kind::Edit:
    return new QLineEdit(text, parent);
  case Kind::Button:
    return new QPushButton(text, parent);
  case Kind::CheckBox:
    return new QCheckBox(text, parent);
  case Kind::ComboBox: {
    auto* combo = new QComboBox(parent);
    combo->setEditable(true); // as csDropDown, the stored form's default
    combo->addItems({"One", "Two", "Three"});
    return combo;
  }
  case Kind::Memo:
    return new QPlainTextEdit("First line\nSecond line", parent);
  case Kind::ListBox: {
    auto* list = new QListWidget(parent);
    list->addItems({"One", "Two", "Three"});
    return list;
  }
  }
  return nullptr;
}

void BM_CreateQtWidgets50(benchmark::State& state) {
  const std::vector<Control>& controls = program().controls;
  std::vector<QWidget*> made(controls.size());
  for (auto _ : state) {
    auto* window = new QWidget;
    window->setWindowTitle("Fifty");
    window->resize(640, 480);
    for (std::size_t i = 0; i < controls.size(); ++i) {
      const Control& c = controls[i];
      made[i] = qtWidget(c, c.parent < 0 ? window : made[c.parent]);
      made[i]->setGeometry(c.left, c.top, c.width, c.height);
    }
    window->show();
    QCoreApplication::processEvents();
    delete window;
    QCoreApplication::processEvents();
  }
}
BENCHMARK(BM_CreateQtWidgets50)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
