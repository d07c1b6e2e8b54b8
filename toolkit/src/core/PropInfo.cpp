#include "keltk/PropInfo.h"

#include "keltk/StrUtils.h"

namespace keltk {

EnumInfo EnumInfo::sequence(std::string typeName, std::vector<std::string> names) {
  EnumInfo info;
  info.typeName = std::move(typeName);
  std::int64_t ordinal = 0;
  for (auto& n : names)
    info.values.emplace_back(std::move(n), ordinal++);
  return info;
}

std::optional<std::int64_t> EnumInfo::valueOf(std::string_view name) const {
  for (const auto& [n, v] : values)
    if (SameText(n, name)) return v;
  return std::nullopt;
}

const std::string* EnumInfo::nameOf(std::int64_t value) const {
  for (const auto& [n, v] : values)
    if (v == value) return &n;
  return nullptr;
}

bool PropInfo::readOnly() const {
  switch (kind) {
  case PropKind::Object:
    return true;
  case PropKind::String:
    return !setString;
  case PropKind::Component:
    return !setObject;
  case PropKind::Method:
    return !setMethod;
  case PropKind::Binary:
    return !setBytes;
  case PropKind::Strings:
    return !setLines;
  default:
    return !setOrdinal;
  }
}

bool PropInfo::isStored(const TObject& obj) const {
  if (storedIf && !storedIf(obj)) return false;
  switch (kind) {
  case PropKind::Integer:
  case PropKind::Boolean:
  case PropKind::Enum:
  case PropKind::Set:
    return !ordinalDefault || getOrdinal(obj) != *ordinalDefault;
  case PropKind::String:
    return !getString(obj).empty();
  case PropKind::Component:
    return getObject(obj) != nullptr;
  case PropKind::Method:
    return static_cast<bool>(getMethod(obj));
  case PropKind::Binary:
    return !getBytes(obj).empty();
  case PropKind::Strings:
    return !getLines(obj).empty();
  case PropKind::Object:
    return getObject(obj) != nullptr;
  }
  return true;
}

} // namespace keltk
