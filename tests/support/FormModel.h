// Classes that exercise every kind of stored value: the model of the reader and
// writer tests, the form-reader fuzzer and the reader benchmark. Only the component
// model (no GUI classes, no Qt), so that the fuzzer builds it with the model alone.
// Names start with TFm so they do not meet other suites' classes in the class registry.
#pragma once

#include "keltk/Collection.h"
#include "keltk/Component.h"
#include "keltk/Event.h"
#include "keltk/PropInfo.h"

#include <cstdint>
#include <string>
#include <vector>

namespace fmtest {

using namespace keltk;

class TFmCommand;
class TFmWidget;

using TFmNotify = Event<void(TObject* Sender)>;
using TFmRun = Event<int(TFmCommand* Command)>;

enum TFmKind : std::uint8_t { fkPlain, fkFancy, fkOdd };
enum TFmOption : std::uint8_t { foA, foB, foC, foD };
const EnumInfo& kindInfo();
const EnumInfo& optionInfo();
const EnumInfo& colorIdents();

// Everything that the tests want to know about loading, in order.
extern std::vector<std::string> fmLog;
extern int fmLiveWidgets;

class TFmLines : public TPersistent {
public:
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }
  std::vector<std::string> lines;
  const std::vector<std::string>& Lines() const { return lines; }
  void SetLines(const std::vector<std::string>& v) { lines = v; }
};

class TFmSettings : public TPersistent {
public:
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }
  TFmSettings() = default;

  TFmKind mode = fkFancy;
  std::uint8_t flags = 0;
  std::string path = "%App%.log";
  std::uint16_t limit = 1;
  TFmWidget* source = nullptr;
  TFmLines* Notes() { return &notes; }
  TFmLines notes;
};

class TFmParam : public TCollectionItem {
public:
  explicit TFmParam(TCollection* c);
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }
  std::string name;
  TFmKind type = fkPlain;
};

class TFmParams : public TCollection {
public:
  TFmParams() : TCollection(TFmParam::StaticClass()) {}
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }
};

class TFmCommand : public TCollectionItem {
public:
  explicit TFmCommand(TCollection* c);
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  std::string name;
  std::string caption;
  bool enabled = true; // no default declared: always stored
  std::int32_t weight = 0;
  std::vector<std::uint8_t> data;
  TFmWidget* target = nullptr;
  TFmRun onRun;
  TFmParams* Params() { return &params; }
  TFmParams params;
  const std::vector<std::uint8_t>& Data() const { return data; }
  void SetData(std::span<const std::uint8_t> v) { data.assign(v.begin(), v.end()); }
};

class TFmCommands : public TCollection {
public:
  TFmCommands() : TCollection(TFmCommand::StaticClass()) {}
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }
};

// A nested component with a parent, like a menu item: freeing it frees its children.
class TFmWidget : public TComponent {
public:
  explicit TFmWidget(TComponent* owner);
  ~TFmWidget() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  std::string caption;
  std::int64_t color = 0;
  TFmWidget* buddy = nullptr;
  TFmNotify onClick;
  TFmWidget* parent = nullptr;
  std::vector<TFmWidget*> children;
  bool readingWhenCaptionSet = false;

  const std::string& Caption() const { return caption; }
  void SetCaption(const std::string& v);

  bool HasParent() const override { return parent != nullptr; }
  TComponent* GetParentComponent() const override { return parent; }
  void SetParentComponent(TComponent* p) override;
  void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) const override;
  void Loaded() override;

protected:
  void Notification(TComponent* component, TOperation operation) override;
};

class TFmForm : public TComponent {
public:
  using TComponent::TComponent;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  std::string title;
  std::int32_t count = 0;
  std::int64_t big = 0;
  std::uint8_t tiny = 0;
  bool visible = true; // default True: only False is stored
  TFmKind kind = fkPlain;
  std::uint8_t options = 0;
  std::int64_t color = 0;
  std::vector<std::uint8_t> logo;
  TFmWidget* main = nullptr;
  TFmNotify onShow;
  TFmSettings settings;
  TFmCommands commands;
  TFmLines lines;
  int shows = 0;

  TFmSettings* Settings() { return &settings; }
  TFmCommands* Commands() { return &commands; }
  TFmLines* Lines() { return &lines; }
  const std::vector<std::uint8_t>& Logo() const { return logo; }
  void SetLogo(std::span<const std::uint8_t> v) { logo.assign(v.begin(), v.end()); }

  void FormShow(TObject*) { ++shows; }
  void WidgetClick(TObject*) { shows += 100; }
  int RunCommand(TFmCommand* c) { return c == nullptr ? -1 : c->weight; }
  void WrongShape(int) {}
  void Loaded() override;

protected:
  void Notification(TComponent* component, TOperation operation) override;
};

// A descendant whose own form is read after its ancestor's.
class TFmDerivedForm : public TFmForm {
public:
  using TFmForm::TFmForm;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }
  std::string extra;
};

// Registers the component classes above (once).
void registerFormTestClasses();

} // namespace fmtest
