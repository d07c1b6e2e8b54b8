#include "kelvarin/Commands.h"

#include "ExceptionReport.h"
#include "LogCalls.h"
#include "kelvarin/Catalogue.h"
#include "kelvarin/Errors.h"
#include "kelvarin/plugin.h"

#include <fmt/format.h>
#include <keltk/StrUtils.h>
#include <keltk/SysUtils.h>

namespace kelvarin {

namespace {

TErrorClass propertyError() {
  return &EulmKelPropertyError::StaticClass();
}

// A new item's default name: its position, which is the last one while it joins.
std::string defaultName(std::string_view prefix, const keltk::TCollection* collection) {
  const int index = collection == nullptr ? 0 : collection->Count() - 1;
  return fmt::format("{}{}", prefix, index);
}

void logRefusal(TulmKel* plugin, const std::string& message) {
  if (plugin != nullptr) LogError(*plugin, message);
}

bool designing(const TulmKel* plugin) {
  return plugin != nullptr && plugin->HasState(keltk::csDesigning);
}

// The position of the first of `count` names equal to `upperName` without regard
// to case; -1 when none is.
template <class NameAt> int findClash(const std::string& upperName, int count, NameAt nameAt) {
  for (int i = 0; i < count; ++i)
    if (keltk::UpperCase(nameAt(i)) == upperName) return i;
  return -1;
}

// The shared road of both name setters. `names` lists the names of the item's
// collection (the item itself included); the setter stores the name it is handed
// back only when the name was accepted.
struct NameRule {
  std::int32_t blankCode;
  std::int32_t clashCode;
};

template <class NameAt>
void setUniqueName(MethodFrame& site, TulmKel* plugin, const NameRule& rule,
                   const std::string& proposed, std::string& current, int count, NameAt nameAt) {
  site.step = 1;
  TKelMethodResult result = smrOk;
  site.step = 2;
  const std::string name = keltk::Trim(proposed);
  if (!name.empty() && name == current) return;
  if (name.empty()) {
    site.step = 11;
    logRefusal(plugin, FormatError(propertyError(), result, rule.blankCode));
  } else {
    site.step = 31;
    const int clash = findClash(keltk::UpperCase(name), count, nameAt);
    if (clash < 0) {
      site.step = 32;
      current = name;
      return;
    }
    site.step = 51;
    logRefusal(plugin, FormatError(propertyError(), result, rule.clashCode,
                                   {keltk::VarStr(name), keltk::VarInt(clash)}));
  }
  site.step = 71;
  if (designing(plugin)) RaiseMarked(site, result);
}

} // namespace

// ---- parameter types

const keltk::EnumInfo& ParamTypeInfo() {
  static const keltk::EnumInfo info = keltk::EnumInfo::sequence(
      "TParamType", {"ptInteger", "ptBoolean", "ptChar", "ptExtended", "ptString", "ptPointer",
                     "ptPChar", "ptObject", "ptClass", "ptWideChar", "ptPWideChar", "ptAnsiString",
                     "ptCurrency", "ptVariant", "ptInterface", "ptWideString", "ptInt64"});
  return info;
}

const std::string& ParamTypeName(TParamType type) {
  static const std::string unknown;
  const std::string* name = ParamTypeInfo().nameOf(type);
  return name != nullptr ? *name : unknown;
}

// ---- TCommand

const keltk::TClassInfo& TCommand::StaticClass() {
  static keltk::TClassInfo info(
      "TCommand", &keltk::TCollectionItem::StaticClass(), [](keltk::TClassInfo& i) {
        keltk::ClassBuilder<TCommand> b(i);
        b.itemFactory();
        b.object("Bitmap", &TCommand::Bitmap);
        b.string("Caption", &TCommand::Caption, &TCommand::SetCaption);
        b.string("Hint", &TCommand::Hint, &TCommand::SetHint);
        b.string("Name", &TCommand::GetName, &TCommand::SetName);
        // No defaults: the three switches are always stored.
        b.boolean("CheckParamType", &TCommand::CheckParamType, &TCommand::SetCheckParamType);
        b.boolean("CheckParamCount", &TCommand::CheckParamCount, &TCommand::SetCheckParamCount);
        b.boolean("AllowNullInAllParams", &TCommand::AllowNullInAllParams,
                  &TCommand::SetAllowNullInAllParams);
        b.object("Params", &TCommand::GetParams);
        b.event("OnCommand", &TCommand::OnCommand, &TCommand::SetOnCommand);
      });
  return info;
}

TCommand::TCommand(keltk::TCollection* collection) : TCollectionItem(collection) {
  MethodFrame site{"TCommand.Create"};
  site.step = 1;
  // The references first: a report of what follows finds the plug-in through them.
  commands_ = keltk::ObjectAs<TCommands>(collection);
  plugin_ = commands_ != nullptr ? commands_->Plugin() : nullptr;
  GuardedPassOn(this, site, [&] {
    site.step = 2;
    bitmap_.reset(keltk::CreateObject<keltk::TBitmap>());
    site.step = 3;
    caption_.clear();
    hint_.clear();
    name_ = defaultName("Command_", collection);
    site.step = 4;
    checkParamType_ = true;
    checkParamCount_ = true;
    allowNullInAllParams_ = true;
    site.step = 5;
    params_.reset(keltk::CreateObject<TCommandParams>(this));
  });
}

TCommand::~TCommand() {
  MethodFrame site{"TCommand.Destroy"};
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    bitmap_.reset();
    site.step = 2;
    params_.reset();
  });
}

std::string TCommand::GetDisplayName() const {
  std::string name;
  MethodFrame site{"TCommand.GetDisplayName"};
  site.step = 1;
  GuardedSwallow(this, site,
                 [&] { name = name_.empty() ? TCollectionItem::GetDisplayName() : name_; });
  return name;
}

std::string TCommand::GetName() const {
  std::string name;
  MethodFrame site{"TCommand.GetName"};
  site.step = 1;
  GuardedSwallow(this, site, [&] { name = name_; });
  return name;
}

void TCommand::SetName(const std::string& name) {
  MethodFrame site{"TCommand.SetName"};
  GuardedSetter(this, site, [&] {
    const int count = commands_ != nullptr ? commands_->Count() : 1;
    setUniqueName(site, plugin_, NameRule{E011, E012}, name, name_, count,
                  [this](int i) -> const std::string& {
                    return commands_ != nullptr ? commands_->Items(i)->name_ : name_;
                  });
  });
}

void TCommand::SetBitmap(const keltk::TBitmap* bitmap) {
  MethodFrame site{"TCommand.SetBitmap"};
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    site.step = 2;
    bitmap_->Assign(bitmap);
  });
}

TCommandParams* TCommand::GetParams() const {
  TCommandParams* params = nullptr;
  MethodFrame site{"TCommand.GetParams"};
  site.step = 1;
  GuardedSwallow(this, site, [&] { params = params_.get(); });
  return params;
}

void TCommand::SetParams(const TCommandParams* params) {
  MethodFrame site{"TCommand.SetParams"};
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    if (params == nullptr) return;
    site.step = 2;
    params_->Assign(params);
  });
}

void TCommand::Assign(const keltk::TPersistent* source) {
  const auto* other = keltk::ObjectAs<TCommand>(source);
  if (other == nullptr) {
    TCollectionItem::Assign(source);
    return;
  }
  if (other == this) return;
  bitmap_->Assign(other->bitmap_.get());
  caption_ = other->caption_;
  hint_ = other->hint_;
  name_ = other->name_;
  checkParamType_ = other->checkParamType_;
  checkParamCount_ = other->checkParamCount_;
  allowNullInAllParams_ = other->allowNullInAllParams_;
  params_->Assign(other->params_.get());
  onCommand_ = other->onCommand_;
}

// ---- TCommands

const keltk::TClassInfo& TCommands::StaticClass() {
  static keltk::TClassInfo info("TCommands", &keltk::TCollection::StaticClass());
  return info;
}

TCommands::TCommands(TulmKel* plugin) : TCollection(TCommand::StaticClass()) {
  MethodFrame site{"TCommands.Create"};
  site.step = 1;
  GuardedSwallow(this, site, [&] { plugin_ = plugin; });
}

TCommands::~TCommands() {
  MethodFrame site{"TCommands.Destroy"};
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    site.step = 2;
    // The items go while this object is still a TCommands, so their reports still
    // reach the plug-in.
    Clear();
  });
}

TCommand* TCommands::Find(std::string_view name) const {
  for (int i = 0; i < Count(); ++i)
    if (keltk::SameText(Items(i)->Name(), name)) return Items(i);
  return nullptr;
}

keltk::TPersistent* TCommands::GetOwner() const {
  keltk::TPersistent* owner = nullptr;
  MethodFrame site{"TCommands.GetOwner"};
  site.step = 1;
  GuardedSwallow(this, site, [&] { owner = plugin_; });
  return owner;
}

// ---- TCommandParam

const keltk::TClassInfo& TCommandParam::StaticClass() {
  static keltk::TClassInfo info(
      "TCommandParam", &keltk::TCollectionItem::StaticClass(), [](keltk::TClassInfo& i) {
        keltk::ClassBuilder<TCommandParam> b(i);
        b.itemFactory();
        b.string("ParamName", &TCommandParam::GetParamName, &TCommandParam::SetParamName);
        // No streaming default: stored parameters always name their type.
        b.enumeration("ParamType", ParamTypeInfo(), &TCommandParam::GetParamType,
                      &TCommandParam::SetParamType);
      });
  return info;
}

TCommandParam::TCommandParam(keltk::TCollection* collection) : TCollectionItem(collection) {
  MethodFrame site{"TCommandParam.Create"};
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    params_ = keltk::ObjectAs<TCommandParams>(collection);
    command_ = params_ != nullptr ? params_->Command() : nullptr;
    commands_ = command_ != nullptr ? command_->Commands() : nullptr;
    plugin_ = params_ != nullptr ? params_->Plugin() : nullptr;
    site.step = 2;
    paramName_ = defaultName("Param_", collection);
    paramType_ = ptInteger;
  });
}

TCommandParam::~TCommandParam() {
  MethodFrame site{"TCommandParam.Destroy"};
  site.step = 1;
}

std::string TCommandParam::GetDisplayName() const {
  std::string name;
  MethodFrame site{"TCommandParam.GetDisplayName"};
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    name = paramName_.empty() ? TCollectionItem::GetDisplayName() : paramName_;
  });
  return name;
}

std::string TCommandParam::GetParamName() const {
  std::string name;
  MethodFrame site{"TCommandParam.GetParamName"};
  site.step = 1;
  GuardedSwallow(this, site, [&] { name = paramName_; });
  return name;
}

void TCommandParam::SetParamName(const std::string& name) {
  MethodFrame site{"TCommandParam.SetParamName"};
  GuardedSetter(this, site, [&] {
    const int count = params_ != nullptr ? params_->Count() : 1;
    setUniqueName(site, plugin_, NameRule{E013, E014}, name, paramName_, count,
                  [this](int i) -> const std::string& {
                    return params_ != nullptr ? params_->Items(i)->paramName_ : paramName_;
                  });
  });
}

TParamType TCommandParam::GetParamType() const {
  TParamType type = ptInteger;
  MethodFrame site{"TCommandParam.GetParamType"};
  site.step = 1;
  GuardedSwallow(this, site, [&] { type = paramType_; });
  return type;
}

void TCommandParam::SetParamType(TParamType type) {
  MethodFrame site{"TCommandParam.SetParamType"};
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    if (type == paramType_) return;
    site.step = 2;
    paramType_ = type;
  });
}

void TCommandParam::Assign(const keltk::TPersistent* source) {
  const auto* other = keltk::ObjectAs<TCommandParam>(source);
  if (other == nullptr) {
    TCollectionItem::Assign(source);
    return;
  }
  paramName_ = other->paramName_;
  paramType_ = other->paramType_;
}

// ---- TCommandParams

const keltk::TClassInfo& TCommandParams::StaticClass() {
  static keltk::TClassInfo info("TCommandParams", &keltk::TCollection::StaticClass());
  return info;
}

TCommandParams::TCommandParams(TCommand* command) : TCollection(TCommandParam::StaticClass()) {
  MethodFrame site{"TCommandParams.Create"};
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    command_ = command;
    site.step = 2;
    plugin_ = command != nullptr ? command->Plugin() : nullptr;
  });
}

TCommandParams::~TCommandParams() {
  MethodFrame site{"TCommandParams.Destroy"};
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    site.step = 2;
    Clear();
  });
}

keltk::TPersistent* TCommandParams::GetOwner() const {
  keltk::TPersistent* owner = nullptr;
  MethodFrame site{"TCommandParams.GetOwner"};
  site.step = 1;
  GuardedSwallow(this, site, [&] { owner = command_; });
  return owner;
}

// ---- the plug-in's commands

TCommands* TulmKel::GetCommands() const {
  return commands_.get();
}

void TulmKel::SetCommands(const TCommands* commands) {
  MethodFrame site{"TulmKel.SetCommands"};
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    if (commands == nullptr) return;
    site.step = 2;
    commands_->Assign(commands);
  });
}

// ---- who answers for a command object's reports

const TulmKel* PluginOfCommandObject(const keltk::TObject* object) {
  if (const auto* command = keltk::ObjectAs<TCommand>(object)) return command->Plugin();
  if (const auto* commands = keltk::ObjectAs<TCommands>(object)) return commands->Plugin();
  if (const auto* param = keltk::ObjectAs<TCommandParam>(object)) return param->Plugin();
  if (const auto* params = keltk::ObjectAs<TCommandParams>(object)) return params->Plugin();
  return nullptr;
}

} // namespace kelvarin
