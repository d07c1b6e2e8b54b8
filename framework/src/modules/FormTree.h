// Stored form data as a plain tree: objects, properties and values, with no
// class behind them. Enough to inspect any form without the code that reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kelvarin {

struct FormProperty;

// One item of a collection: its properties in stored order.
using FormItem = std::vector<FormProperty>;

struct FormValue {
  enum class Kind : std::uint8_t { String, Integer, Ident, Set, Strings, Collection, Binary };
  Kind kind = Kind::Ident;
  std::string text;                // String: the decoded text; Ident: as written
  std::int64_t integer = 0;        // Integer
  std::vector<std::string> list;   // Set: the members; Strings: the lines
  std::vector<FormItem> items;     // Collection
  std::vector<std::uint8_t> bytes; // Binary
};

struct FormProperty {
  std::string name; // dotted for sub-object properties: MenuMerging.MergeType
  FormValue value;
};

struct FormObject {
  std::string name;
  std::string className;
  bool inherited = false;
  std::vector<FormProperty> properties;
  std::vector<FormObject> children;

  // The property `name` (case-insensitive), or null.
  const FormProperty* find(std::string_view name) const;
};

// What the forms of one module may hold at most, counted over all of them:
// objects, property values, list lines, set members and collection items. Real
// modules hold hundreds; the bound keeps a damaged or hostile one from costing
// the reader gigabytes (each entry costs far more memory than its text).
inline constexpr std::size_t kMaxFormEntries = 250000;

// Reads one stored form. Raises keltk::EReadError naming line and column for
// malformed text, also for nesting deeper than the reader accepts, and
// MetadataError when the form holds more than `entriesLeft` entries; lowers
// `entriesLeft` by what the form holds, so that one count bounds several forms.
FormObject ParseFormTree(std::string_view text, std::size_t& entriesLeft);
// One form alone, within kMaxFormEntries.
FormObject ParseFormTree(std::string_view text);

// The property `name` of a collection item (case-insensitive), or null.
const FormProperty* FindItemProperty(const FormItem& item, std::string_view name);

} // namespace kelvarin
