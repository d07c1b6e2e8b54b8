// The commands a plug-in offers its host: named, captioned, with typed parameters,
// three checking switches and a handler. They are published properties of the
// plug-in object, so they come back from its stored form data.
#pragma once

#include "kelvarin/MethodResult.h"

#include <cstdint>
#include <keltk/Collection.h>
#include <keltk/Event.h>
#include <keltk/Graphics.h>
#include <keltk/PropInfo.h>
#include <keltk/VarRec.h>
#include <string>

namespace kelvarin {

class TulmKel;
class TCommands;
class TCommandParams;

// A declared parameter type. Each ordinal equals the argument tag (keltk::TVarType)
// that carries the same kind of value, so a declared type and an argument's tag
// compare as numbers.
enum TParamType : std::uint8_t {
  ptInteger,
  ptBoolean,
  ptChar,
  ptExtended,
  ptString,
  ptPointer,
  ptPChar,
  ptObject,
  ptClass,
  ptWideChar,
  ptPWideChar,
  ptAnsiString,
  ptCurrency,
  ptVariant,
  ptInterface,
  ptWideString,
  ptInt64,
};
const keltk::EnumInfo& ParamTypeInfo();
// "ptInteger" ... "ptInt64".
const std::string& ParamTypeName(TParamType type);

// Whether an argument with tag `tag` may stand for a parameter of type `type` when
// a command checks its argument types. The exact tag always fits; besides it:
//
//   ptExtended                   vtInteger, vtInt64, vtCurrency
//   ptCurrency                   vtInteger, vtInt64
//   ptInt64                      vtInteger
//   ptWideChar                   vtChar
//   ptString, ptPChar, ptPWideChar,
//   ptAnsiString, ptWideString   every text tag: vtChar, vtWideChar, vtString,
//                                vtPChar, vtPWideChar, vtAnsiString, vtWideString
//   ptPointer                    vtPChar, vtPWideChar, vtObject, vtClass, vtInterface
//   ptVariant                    every tag
//
// A null argument is TVarRec::Null() (the pointer tag with no pointer); any
// argument for which TVarRec::IsNull() holds counts as null. A command whose
// AllowNullInAllParams is True takes a null argument for every parameter, whatever
// its type; with False it refuses a null argument for every parameter. Handlers
// read an argument by its own tag, or through Var2Int and Var2Str.
bool ParamTypeAccepts(TParamType type, keltk::TVarType tag);

// One argument as an integer: integers, Booleans (0 or 1), characters (their code),
// 64-bit integers that fit, floating-point and currency values that fit (truncated
// toward zero), decimal texts (optional sign, surrounding blanks ignored; "$" or
// "0x" for hexadecimal) and variants (their value). Anything else, a null argument
// and a value that does not convert give 0.
std::int32_t Var2Int(const keltk::TVarRec& value);
// One argument as text: texts of every kind (wide ones as UTF-8), characters,
// integers and 64-bit integers in decimal, Booleans as "True" / "False",
// floating-point values in the shortest form that reads back the same, currency
// values with up to four decimals, class references as the class name, and
// variants (their value). Pointers, objects, interfaces and a null argument give
// an empty text.
std::string Var2Str(const keltk::TVarRec& value);

using TEventOnCommand = keltk::Event<TKelMethodResult(keltk::TVarRecs Params)>;

class TCommand : public keltk::TCollectionItem {
public:
  // Joins `collection` first, then takes the default name "Command_<index>".
  explicit TCommand(keltk::TCollection* collection);
  ~TCommand() override;
  static const keltk::TClassInfo& StaticClass();
  const keltk::TClassInfo& ClassType() const override { return StaticClass(); }

  // Owned; assigning copies the image and keeps the command's own bitmap.
  keltk::TBitmap* Bitmap() const { return bitmap_.get(); }
  void SetBitmap(const keltk::TBitmap* bitmap);
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption) { caption_ = caption; }
  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& hint) { hint_ = hint; }
  // Trimmed, not blank, unique in the collection without regard to case. A refused
  // name is logged and the old one stays; while the plug-in is being designed the
  // refusal is also raised as EulmKelPropertyError.
  // The Get forms here and in TCommandParam are the published properties' readers
  // (forms and the property system use them): they answer what the short forms
  // answer, read under the framework's exception report. Code uses the short forms.
  std::string GetName() const;
  void SetName(const std::string& name);
  const std::string& Name() const { return name_; }
  bool CheckParamType() const { return checkParamType_; }
  void SetCheckParamType(bool check) { checkParamType_ = check; }
  bool CheckParamCount() const { return checkParamCount_; }
  void SetCheckParamCount(bool check) { checkParamCount_ = check; }
  bool AllowNullInAllParams() const { return allowNullInAllParams_; }
  void SetAllowNullInAllParams(bool allow) { allowNullInAllParams_ = allow; }
  // Owned. Writing copies the given parameters into the owned collection (none is
  // ignored); the command never gives up or swaps its collection.
  TCommandParams* GetParams() const;
  void SetParams(const TCommandParams* params);
  TCommandParams* Params() const { return params_.get(); }
  const TEventOnCommand& OnCommand() const { return onCommand_; }
  void SetOnCommand(const TEventOnCommand& handler) { onCommand_ = handler; }

  // Set once at creation; not owned.
  TulmKel* Plugin() const { return plugin_; }
  TCommands* Commands() const { return commands_; }

  // Name, or the toolkit's default when it is empty.
  std::string GetDisplayName() const override;
  // Copies every published property of another command (names unchecked).
  void Assign(const keltk::TPersistent* source) override;

private:
  keltk::ObjectPtr<keltk::TBitmap> bitmap_;
  std::string caption_;
  std::string hint_;
  std::string name_;
  bool checkParamType_ = true;
  bool checkParamCount_ = true;
  bool allowNullInAllParams_ = true;
  keltk::ObjectPtr<TCommandParams> params_;
  TEventOnCommand onCommand_;
  TulmKel* plugin_ = nullptr;
  TCommands* commands_ = nullptr;
};

class TCommands : public keltk::TCollection {
public:
  explicit TCommands(TulmKel* plugin);
  ~TCommands() override;
  static const keltk::TClassInfo& StaticClass();
  const keltk::TClassInfo& ClassType() const override { return StaticClass(); }

  TulmKel* Plugin() const { return plugin_; }
  TCommand* Items(int index) const { return static_cast<TCommand*>(TCollection::Items(index)); }
  TCommand* Add() { return static_cast<TCommand*>(TCollection::Add()); }
  // The first command whose name equals `name` without regard to case, or null.
  TCommand* Find(std::string_view name) const;

  // The plug-in.
  keltk::TPersistent* GetOwner() const override;

private:
  TulmKel* plugin_ = nullptr;
};

class TCommandParam : public keltk::TCollectionItem {
public:
  // Joins `collection` first, then takes the default name "Param_<index>".
  explicit TCommandParam(keltk::TCollection* collection);
  ~TCommandParam() override;
  static const keltk::TClassInfo& StaticClass();
  const keltk::TClassInfo& ClassType() const override { return StaticClass(); }

  // Same rules as a command's name, within the command's parameters.
  std::string GetParamName() const;
  void SetParamName(const std::string& name);
  const std::string& ParamName() const { return paramName_; }
  TParamType GetParamType() const;
  void SetParamType(TParamType type);
  TParamType ParamType() const { return paramType_; }

  // Set once at creation; not owned.
  TCommandParams* Params() const { return params_; }
  TCommand* Command() const { return command_; }
  TCommands* Commands() const { return commands_; }
  TulmKel* Plugin() const { return plugin_; }

  std::string GetDisplayName() const override;
  void Assign(const keltk::TPersistent* source) override;

private:
  std::string paramName_;
  TParamType paramType_ = ptInteger;
  TCommandParams* params_ = nullptr;
  TCommand* command_ = nullptr;
  TCommands* commands_ = nullptr;
  TulmKel* plugin_ = nullptr;
};

class TCommandParams : public keltk::TCollection {
public:
  explicit TCommandParams(TCommand* command);
  ~TCommandParams() override;
  static const keltk::TClassInfo& StaticClass();
  const keltk::TClassInfo& ClassType() const override { return StaticClass(); }

  TCommand* Command() const { return command_; }
  TulmKel* Plugin() const { return plugin_; }
  TCommandParam* Items(int index) const {
    return static_cast<TCommandParam*>(TCollection::Items(index));
  }
  TCommandParam* Add() { return static_cast<TCommandParam*>(TCollection::Add()); }

  // The command.
  keltk::TPersistent* GetOwner() const override;

private:
  TCommand* command_ = nullptr;
  TulmKel* plugin_ = nullptr;
};

// The plug-in that answers for a command, command list, parameter or parameter
// list (its exception reports go to that plug-in's manager); null for any other
// object and for a command object without a plug-in.
const TulmKel* PluginOfCommandObject(const keltk::TObject* object);

} // namespace kelvarin
