// Writing components as stored form data (the text format of .kfm files).
#pragma once

#include "keltk/Component.h"

#include <string>

namespace keltk {

class TWriter {
public:
  TWriter();
  ~TWriter();

  // Writes the stored properties and nested components of `component` (the body
  // of its `object ... end` block). TComponent::WriteState calls this.
  void WriteData(TComponent* component);

private:
  struct Impl;
  Impl* impl_;
};

} // namespace keltk
