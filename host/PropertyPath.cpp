#include "PropertyPath.h"

#include "Script.h"

#include <fmt/format.h>
#include <keltk/Application.h>
#include <keltk/Component.h>
#include <keltk/Forms.h>
#include <keltk/PropInfo.h>
#include <vector>

namespace tavlo {

namespace {

std::vector<std::string> splitPath(std::string_view path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t dot = path.find('.', start);
    parts.emplace_back(path.substr(start, dot - start));
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return parts;
}

keltk::TForm* findForm(const std::string& name) {
  keltk::TScreen* screen = keltk::Screen();
  for (int i = 0; i < screen->FormCount(); ++i)
    if (keltk::TForm* form = screen->Forms(i); form != nullptr && form->Name() == name) return form;
  return nullptr;
}

std::string ordinalText(const keltk::PropInfo& prop, std::int64_t value) {
  switch (prop.kind) {
  case keltk::PropKind::Boolean:
    return value != 0 ? "True" : "False";
  case keltk::PropKind::Enum:
    if (const std::string* name = prop.enumInfo != nullptr ? prop.enumInfo->nameOf(value) : nullptr)
      return *name;
    return std::to_string(value);
  case keltk::PropKind::Set: {
    std::string text = "[";
    for (int bit = 0; bit < 64; ++bit) {
      if ((static_cast<std::uint64_t>(value) >> bit & 1u) == 0) continue;
      if (text.size() > 1) text += ", ";
      const std::string* name = prop.enumInfo != nullptr ? prop.enumInfo->nameOf(bit) : nullptr;
      text += name != nullptr ? *name : std::to_string(bit);
    }
    return text + "]";
  }
  default:
    return std::to_string(value);
  }
}

std::string valueText(const keltk::PropInfo& prop, const keltk::TObject& object) {
  if (prop.isOrdinal()) return ordinalText(prop, prop.getOrdinal(object));
  switch (prop.kind) {
  case keltk::PropKind::String:
    return prop.getString(object);
  case keltk::PropKind::Strings: {
    std::string text;
    for (const std::string& line : prop.getLines(object)) {
      if (!text.empty()) text += '|';
      text += line;
    }
    return text;
  }
  case keltk::PropKind::Component: {
    const auto* target = keltk::ObjectAs<keltk::TComponent>(prop.getObject(object));
    return target != nullptr ? target->Name() : "nil";
  }
  case keltk::PropKind::Method:
    return prop.getMethod(object) ? "(assigned)" : "nil";
  case keltk::PropKind::Binary:
    return fmt::format("({} bytes)", prop.getBytes(object).size());
  default:
    return {};
  }
}

} // namespace

std::string ReadPropertyPath(std::string_view path) {
  const std::vector<std::string> parts = splitPath(path);
  if (parts.size() < 2) throw ScriptError(fmt::format("\"{}\" names no property", path));
  keltk::TObject* object = findForm(parts[0]);
  if (object == nullptr) throw ScriptError(fmt::format("no window is named \"{}\"", parts[0]));

  for (std::size_t i = 1; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    const bool last = i + 1 == parts.size();
    // Owned components first, as in the stored form's nesting.
    if (auto* component = keltk::ObjectAs<keltk::TComponent>(object)) {
      if (keltk::TComponent* owned = component->FindComponent(part)) {
        if (last) return owned->Name();
        object = owned;
        continue;
      }
    }
    const keltk::PropInfo* prop = object->ClassType().findProperty(part);
    if (prop == nullptr)
      throw ScriptError(
          fmt::format("{} has no property or component \"{}\"", object->ClassName(), part));
    if (last && prop->kind != keltk::PropKind::Object) return valueText(*prop, *object);
    if (prop->kind != keltk::PropKind::Object)
      throw ScriptError(fmt::format("\"{}\" has no parts", part));
    keltk::TObject* sub = prop->getObject(*object);
    if (sub == nullptr) throw ScriptError(fmt::format("\"{}\" is not set", part));
    if (last) return sub->ClassName();
    object = sub;
  }
  return {};
}

} // namespace tavlo
