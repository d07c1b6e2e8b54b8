#include "kelvarin/Catalogue.h"

#include "CatalogueStore.h"

#include <array>
#include <fmt/format.h>
#include <utility>

namespace kelvarin {

namespace {

constexpr std::pair<std::int32_t, const char*> builtInMessages[] = {
    {E001, "Plugin \"%s\" could not be loaded by Windows."},
    {E002, "Plugin \"%s\" not allowed to be loaded."},
    {E003, "Plugin \"%s\" refused to be loaded."},
    {E004, "Exported function \"%s\" not found in plugin \"%s\"."},
    {E005, "Plugin \"%s\" could not be registered."},
    {E006, "Plugin \"%s\" could not be initialized."},
    {E007, "Plugin \"%s\" instances exceed limit (maximum is %d)."},
    {E008, "Plugin \"%s\" not initialized yet."},
    {E009, "Plugin \"%s\" already initialized."},
    {E00A, "Plugin \"%s\" already finalized."},
    {E00B, "No event assigned for setup in plugin \"%s\"."},
    {E00C, "No event assigned for command \"%s\" in plugin \"%s\"."},
    {E00D, "No event assigned for messages in plugin \"%s\"."},
    {E00E, "Plugin has been unloaded by \"%s\" event handler."},
    {E00F, "Cannot modify a design-only property: \"%s\"."},
    {E010, "KEL version could not be obtained from plugin \"%s\"."},
    {E011, "Plugin Command.Name cannot be blank."},
    {E012, "Plugin Command.Name \"%s\" already in use by command %d."},
    {E013, "Plugin ParamName cannot be blank."},
    {E014, "Plugin ParamName \"%s\" already in use by param %d."},
    {E015, "Plugin FileName cannot be blank."},
    {E016, "Plugin not found: \"%s\""},
    {E017, "Manager PluginFolder does not exist: \"%s\"."},
    {E018, "Unexpected error."},
    {E019, "Plugin class %s not found."},
    {E01A, "No plugins loaded yet."},
    {E01B, "No commands defined for plugin \"%s\"."},
    {E01C, "Invalid parameter: %s"},
    {E01D, "Invalid plugin index: %d."},
    {E01E, "Invalid command index for plugin \"%s\": %d."},
    {E01F, "Plugin object (index %d) could not be accessed."},
    {E020, "Command object (index %d, plugin \"%s\") could not be accessed."},
    {E021, "List object must be instantiated."},
    {E022, "Host main menu not found."},
    {E023, "Host main menu has no item available."},
    {E024, "Invalid number of parameters for command \"%s\", plugin \"%s\": %d (%d params "
           "required)."},
    {E025, "Incompatible parameter type for command \"%s\", plugin \"%s\", param %d (must be "
           "compatibable with type \"%s\")."},
    {E026, "Parameter \"%s\" must be of class %s."},
    {E027, "Plugin KEL Version mismatch (manager: \"%s\" <> plugin: \"%s\")."},
    {E028, "Invalid menu merging alias."},
    {E029, "Target menu item not found (%s)."},
    {E02E, "Invalid plugin extension: %s%"},
};

constexpr const char* builtInDictionary[2] = {
    "Unknown Error.",
    "Error loading Kelvarin initialization file.\r\n"
    "A required entry is empty or missing:\r\n"
    "\r\n"
    "FILE  %s\r\n"
    "SECTION  [%s]\r\n"
    "ENTRY  %s\r\n"
    "\r\n"
    "Default values will be assumed from this point.",
};

constexpr std::size_t slotOf(std::int32_t code) {
  return static_cast<std::size_t>(code - 0xE000);
}
constexpr std::size_t kSlots = slotOf(E02E) + 1;

// This copy's texts. Built on first use, so they are ready whichever start-up code
// asks first.
struct Texts {
  std::array<std::string, kSlots> messages;
  std::array<bool, kSlots> assigned{};
  std::string dictionary[2];

  Texts() { restore(); }
  void restore() {
    for (const auto& [code, text] : builtInMessages) {
      messages[slotOf(code)] = text;
      assigned[slotOf(code)] = true;
    }
    dictionary[0] = builtInDictionary[0];
    dictionary[1] = builtInDictionary[1];
  }
};

} // namespace

namespace detail {
Texts& catalogueTexts() {
  static Texts texts;
  return texts;
}
void SetErrorMessage(std::int32_t code, std::string text) {
  catalogueTexts().messages[slotOf(code)] = std::move(text);
}
void SetDictionaryText(int number, std::string text) {
  catalogueTexts().dictionary[number - 1] = std::move(text);
}
void RestoreCatalogue() {
  catalogueTexts().restore();
}
} // namespace detail

const std::string* ErrorMessage(std::int32_t code) {
  if (code < E001 || code > E02E) return nullptr;
  Texts& texts = detail::catalogueTexts();
  return texts.assigned[slotOf(code)] ? &texts.messages[slotOf(code)] : nullptr;
}

const char* BuiltInErrorMessage(std::int32_t code) {
  for (const auto& [c, text] : builtInMessages)
    if (c == code) return text;
  return nullptr;
}

const std::string& DictionaryText(int number) {
  static const std::string none;
  if (number < 1 || number > 2) return none;
  return detail::catalogueTexts().dictionary[number - 1];
}

std::string FormatError(TErrorClass errorClass, TKelMethodResult& result, std::int32_t code,
                        keltk::TVarRecs args) {
  std::string message;
  try {
    message = fmt::format("Error ${:>4X}", static_cast<std::uint32_t>(code));
    result.ErrorClass = errorClass;
    result.ErrorCode = code;
    result.ErrorMsg = message;
    if (const std::string* text = ErrorMessage(code)) {
      std::string formatted;
      if (FormatText(*text, args, formatted)) {
        message += ":  ";
        message += formatted;
      }
    }
    result.ErrorMsg = message;
  } catch (...) {
    // Out of memory while building a message: keep whatever was stored.
  }
  return message;
}

std::string FormatError(TErrorClass errorClass, TKelMethodResult& result, std::int32_t code,
                        std::initializer_list<keltk::TVarRec> args) {
  return FormatError(errorClass, result, code, keltk::TVarRecs(args.begin(), args.size()));
}

} // namespace kelvarin
