// The numbered catalogue of failure messages, the two dictionary texts, the
// optional dictionary file that replaces them, and FormatError, which turns a
// code and its arguments into a filled result record.
#pragma once

#include "kelvarin/MethodResult.h"

#include <cstdint>
#include <initializer_list>
#include <keltk/VarRec.h>
#include <string>
#include <string_view>

namespace kelvarin {

// Catalogue codes. E02A to E02D are not assigned.
enum TErrorCode : std::int32_t {
  E001 = 0xE001,
  E002,
  E003,
  E004,
  E005,
  E006,
  E007,
  E008,
  E009,
  E00A,
  E00B,
  E00C,
  E00D,
  E00E,
  E00F,
  E010,
  E011,
  E012,
  E013,
  E014,
  E015,
  E016,
  E017,
  E018,
  E019,
  E01A,
  E01B,
  E01C,
  E01D,
  E01E,
  E01F,
  E020,
  E021,
  E022,
  E023,
  E024,
  E025,
  E026,
  E027,
  E028,
  E029,
  E02E = 0xE02E,
};

// The current text of `code` (dictionary replacements included); null for a code
// without a text.
const std::string* ErrorMessage(std::int32_t code);
// The built-in text of `code`; null for a code without a text.
const char* BuiltInErrorMessage(std::int32_t code);
// Dictionary text 1 ("Unknown Error.") or 2 (the missing-entry message); empty otherwise.
const std::string& DictionaryText(int number);

// Fills ErrorClass, ErrorCode and ErrorMsg of `result` (never Success) and returns
// the message: "Error $" and the code in four upper-case hex digits, then, for a
// catalogue code whose text takes the arguments, ":  " and the formatted text.
// Arguments that do not fit the text leave just the prefix. Never raises.
std::string FormatError(TErrorClass errorClass, TKelMethodResult& result, std::int32_t code,
                        keltk::TVarRecs args);
std::string FormatError(TErrorClass errorClass, TKelMethodResult& result, std::int32_t code,
                        std::initializer_list<keltk::TVarRec> args = {});

// Formats `pattern` with the toolkit's format language: %s text, %d integer,
// %u unsigned, %x upper-case hex, %f %e %g %n %m numbers, %p pointer, each with
// optional "index:", "-", width and ".precision" ("*" takes them from the
// arguments); %% is a percent sign and a lone % ending the pattern gives nothing.
// Returns false, leaving `out` unspecified, when arguments are missing or of the
// wrong kind or the pattern is malformed; surplus arguments are ignored.
bool FormatText(std::string_view pattern, keltk::TVarRecs args, std::string& out);

// Where the dictionary file is looked for: $KELVARIN_CONFIG_DIR/ulmKELrp.ini when
// the variable is set, else /etc/ulmKELrp.ini.
std::string DictionaryFileName();

// Replaces the built-in texts with those of the dictionary file, once per copy of
// the framework (later calls do nothing). A missing entry shows dictionary text 2
// in the message box and stops there.
void LoadDictionary();
bool DictionaryLoaded();
// Puts every text back to its built-in value and allows LoadDictionary again.
void RestoreBuiltInTexts();

// Replaces every pilcrow (UTF-8 "¶", or a lone byte 0xB6 that is not part of a
// UTF-8 character) with CR LF.
std::string ReplacePilcrows(std::string_view text);

} // namespace kelvarin
