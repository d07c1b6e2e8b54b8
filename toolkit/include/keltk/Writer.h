// Writing components as stored form data (the text format of .kfm files, see
// Reader.h). Reading the text back gives the same property values.
#pragma once

#include "keltk/Component.h"

#include <memory>
#include <string>

namespace keltk {

class TWriter {
public:
  TWriter();
  ~TWriter();
  TWriter(const TWriter&) = delete;
  TWriter& operator=(const TWriter&) = delete;

  // Writes `root` as a whole form: `object Name: TClass`, its stored properties,
  // its children as nested objects, `end`. Raises EWriteError for a value the
  // format cannot carry (a reference to a component outside the form, an event
  // bound to a method the root does not publish, text that is not UTF-8).
  void WriteRootComponent(TComponent* root);

  // Writes the stored properties and nested components of `component` (the body
  // of its `object ... end` block, `end` included). TComponent::WriteState calls this.
  void WriteData(TComponent* component);

  // What has been written so far.
  const std::string& Text() const;

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The stored form of `root`.
std::string WriteComponentToText(TComponent* root);

} // namespace keltk
