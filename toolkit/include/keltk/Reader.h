// Reading stored form data (the text format of .kfm files) into components.
//
//   object Form1: TForm1
//     Caption = ' Sample'            strings: '' for a quote, #13 for a code point,
//     Tag = -5                       'a' + 'b' joins pieces; integers, $hex
//     Visible = True                 True / False, identifiers of enumerations
//     Options = [loA, loB]           sets
//     Log.DumpOn = doNever           sub-object properties
//     Items = <                      collections
//       item
//         Name = 'First'
//       end>
//     Lines.Strings = (              string lists
//       'one'
//       'two')
//     Glyph.Data = {424D}            binary data
//     OnClose = FormClose            events: published methods of the root
//     Buddy = Button1                references: components of the root, resolved last
//     object Button1: TButton        nested components (owned by the root)
//     end
//   end
//
// Bad data raises EReadError (EClassNotFound for an unknown class) whose message
// starts with "line L, column C: "; components created before the failure are
// freed again.
#pragma once

#include "keltk/Component.h"

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace keltk {

class TReader {
public:
  // `text` must stay alive while the reader is used; `sourceName` names it in errors.
  explicit TReader(std::string_view text, std::string sourceName = {});
  ~TReader();
  TReader(const TReader&) = delete;
  TReader& operator=(const TReader&) = delete;

  // Reads the whole form into `root`: its header must name the root's class or
  // an ancestor of it. References are resolved and Loaded is called on every
  // component read once the form is complete.
  void ReadRootComponent(TComponent* root);

  // Reads the properties and nested components of `component` (the body of its
  // `object ... end` block, up to and including `end`). TComponent::ReadState
  // calls this.
  void ReadData(TComponent* component);

  // The component whose form is being read.
  TComponent* Root() const;

private:
  struct Impl;
  friend void ReadInheritedForms(std::span<const std::string_view>, TComponent*,
                                 std::span<const std::string>);
  std::unique_ptr<Impl> impl_;
};

// Reads one whole form into `root` (see TReader::ReadRootComponent). Holds GlobalNameSpace().
void ReadComponentFromText(std::string_view text, TComponent* root, std::string sourceName = {});

// Reads several forms into `root` as one load, base class first (the later
// ones usually start with `inherited`): references are resolved and Loaded is
// called once, after the last. `sourceNames`, when given, name the texts in errors.
void ReadInheritedForms(std::span<const std::string_view> texts, TComponent* root,
                        std::span<const std::string> sourceNames = {});

// Creates a component of the class that the form's header names (a registered
// class, see RegisterClass) with `owner`, and reads the form into it. Freed
// again when reading fails.
TComponent* CreateComponentFromText(std::string_view text, TComponent* owner,
                                    std::string sourceName = {});

// Where the value being assigned was written, while this thread reads a form:
// lets a setter that refuses a value without raising (a duplicate name, say)
// tell where it was written. Empty between reads.
struct ReadPosition {
  std::string source; // the reader's source name; may be empty
  int line = 0;
  int column = 0;
};
std::optional<ReadPosition> CurrentReadPosition();

// The class name in the header of a form (`object Name: TClass`), or empty when
// the text does not start with a header.
std::string FormClassName(std::string_view text);

} // namespace keltk
