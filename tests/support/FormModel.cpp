#include "FormModel.h"

#include <algorithm>

namespace fmtest {

std::vector<std::string> fmLog;
int fmLiveWidgets = 0;

const EnumInfo& kindInfo() {
  static const EnumInfo info = EnumInfo::sequence("TFmKind", {"fkPlain", "fkFancy", "fkOdd"});
  return info;
}

const EnumInfo& optionInfo() {
  static const EnumInfo info = EnumInfo::sequence("TFmOption", {"foA", "foB", "foC", "foD"});
  return info;
}

const EnumInfo& colorIdents() {
  static const EnumInfo info{"TFmColor", {{"clBlack", 0}, {"clRed", 0xFF}, {"clBtnFace", -16}}};
  return info;
}

const TClassInfo& TFmLines::StaticClass() {
  static TClassInfo info("TFmLines", &TPersistent::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<TFmLines>(i).lines("Strings", &TFmLines::Lines, &TFmLines::SetLines);
  });
  return info;
}

const TClassInfo& TFmSettings::StaticClass() {
  static TClassInfo info("TFmSettings", &TPersistent::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<TFmSettings> b(i);
    b.enumeration("Mode", kindInfo(), &TFmSettings::mode);
    b.set("Flags", optionInfo(), &TFmSettings::flags);
    b.string("Path", &TFmSettings::path);
    b.integer("Limit", &TFmSettings::limit).defaultValue(1);
    b.component("Source", &TFmSettings::source);
    b.object("Notes", &TFmSettings::Notes);
  });
  return info;
}

TFmParam::TFmParam(TCollection* c)
    : TCollectionItem(c), name("Param_" + std::to_string(c == nullptr ? 0 : c->Count() - 1)) {}

const TClassInfo& TFmParam::StaticClass() {
  static TClassInfo info("TFmParam", &TCollectionItem::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<TFmParam> b(i);
    b.itemFactory();
    b.string("ParamName", &TFmParam::name);
    b.enumeration("ParamType", kindInfo(), &TFmParam::type).defaultValue(fkPlain);
  });
  return info;
}

const TClassInfo& TFmParams::StaticClass() {
  static TClassInfo info("TFmParams", &TCollection::StaticClass());
  return info;
}

TFmCommand::TFmCommand(TCollection* c)
    : TCollectionItem(c), name("Command_" + std::to_string(c == nullptr ? 0 : c->Count() - 1)) {}

const TClassInfo& TFmCommand::StaticClass() {
  static TClassInfo info("TFmCommand", &TCollectionItem::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<TFmCommand> b(i);
    b.itemFactory();
    b.string("Name", &TFmCommand::name);
    b.string("Caption", &TFmCommand::caption);
    b.boolean("Enabled", &TFmCommand::enabled);
    b.integer("Weight", &TFmCommand::weight).defaultValue(0);
    b.object("Params", &TFmCommand::Params);
    b.binary("Data", &TFmCommand::Data, &TFmCommand::SetData);
    b.component("Target", &TFmCommand::target);
    b.event("OnRun", &TFmCommand::onRun);
  });
  return info;
}

const TClassInfo& TFmCommands::StaticClass() {
  static TClassInfo info("TFmCommands", &TCollection::StaticClass());
  return info;
}

TFmWidget::TFmWidget(TComponent* owner) : TComponent(owner) {
  ++fmLiveWidgets;
}

TFmWidget::~TFmWidget() {
  while (!children.empty())
    delete children.back();
  if (parent != nullptr) std::erase(parent->children, this);
  --fmLiveWidgets;
}

const TClassInfo& TFmWidget::StaticClass() {
  static TClassInfo info("TFmWidget", &TComponent::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<TFmWidget> b(i);
    b.componentFactory();
    b.string("Caption", &TFmWidget::Caption, &TFmWidget::SetCaption);
    b.integer("Color", &TFmWidget::color, nullptr, &colorIdents()).defaultValue(0);
    b.component("Buddy", &TFmWidget::buddy);
    b.event("OnClick", &TFmWidget::onClick);
  });
  return info;
}

void TFmWidget::SetCaption(const std::string& v) {
  caption = v;
  readingWhenCaptionSet = HasState(csReading) && HasState(csLoading);
}

void TFmWidget::SetParentComponent(TComponent* p) {
  auto* w = ObjectAs<TFmWidget>(p);
  if (w == parent) return;
  for (TFmWidget* up = w; up != nullptr; up = up->parent)
    if (up == this) return; // never below itself
  if (parent != nullptr) std::erase(parent->children, this);
  parent = w;
  if (w != nullptr) w->children.push_back(this);
}

void TFmWidget::GetChildren(const std::function<void(TComponent*)>& proc, TComponent*) const {
  for (TFmWidget* c : children)
    proc(c);
}

void TFmWidget::Loaded() {
  fmLog.push_back("Loaded " + Name() + (HasState(csLoading) ? " loading" : " idle"));
  TComponent::Loaded();
}

void TFmWidget::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == TOperation::opRemove && component == buddy) buddy = nullptr;
}

const TClassInfo& TFmForm::StaticClass() {
  static TClassInfo info("TFmForm", &TComponent::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<TFmForm> b(i);
    b.componentFactory();
    b.string("Title", &TFmForm::title);
    b.integer("Count", &TFmForm::count).defaultValue(0);
    b.integer("Big", &TFmForm::big).defaultValue(0);
    b.integer("Tiny", &TFmForm::tiny).defaultValue(0);
    b.boolean("Visible", &TFmForm::visible).defaultValue(1);
    b.enumeration("Kind", kindInfo(), &TFmForm::kind).defaultValue(fkPlain);
    b.set("Options", optionInfo(), &TFmForm::options);
    b.integer("Color", &TFmForm::color, nullptr, &colorIdents()).defaultValue(0);
    b.binary("Logo", &TFmForm::Logo, &TFmForm::SetLogo);
    b.object("Settings", &TFmForm::Settings);
    b.object("Commands", &TFmForm::Commands);
    b.object("Lines", &TFmForm::Lines);
    b.component("Main", &TFmForm::main);
    b.event("OnShow", &TFmForm::onShow);
    b.method<&TFmForm::FormShow>("FormShow");
    b.method<&TFmForm::WidgetClick>("WidgetClick");
    b.method<&TFmForm::RunCommand>("RunCommand");
    b.method<&TFmForm::WrongShape>("WrongShape");
  });
  return info;
}

void TFmForm::Loaded() {
  fmLog.push_back("Loaded " + Name() + (HasState(csLoading) ? " loading" : " idle") +
                  (main != nullptr ? " main=" + main->Name() : ""));
  TComponent::Loaded();
}

void TFmForm::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation != TOperation::opRemove) return;
  if (component == main) main = nullptr;
  if (component == settings.source) settings.source = nullptr;
  for (int i = 0; i < commands.Count(); ++i) {
    auto* c = static_cast<TFmCommand*>(commands.Items(i));
    if (c->target == component) c->target = nullptr;
  }
}

const TClassInfo& TFmDerivedForm::StaticClass() {
  static TClassInfo info("TFmDerivedForm", &TFmForm::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<TFmDerivedForm> b(i);
    b.componentFactory();
    b.string("Extra", &TFmDerivedForm::extra);
  });
  return info;
}

void registerFormTestClasses() {
  RegisterClass(TFmWidget::StaticClass());
  RegisterClass(TFmForm::StaticClass());
  RegisterClass(TFmDerivedForm::StaticClass());
}

} // namespace fmtest
