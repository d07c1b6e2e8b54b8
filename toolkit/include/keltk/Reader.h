// Reading stored form data (the text format of .kfm files) into components.
#pragma once

#include "keltk/Component.h"

#include <string>
#include <string_view>

namespace keltk {

class TReader {
public:
  // `text` must stay alive while the reader is used; `sourceName` names it in errors.
  explicit TReader(std::string_view text, std::string sourceName = {});
  ~TReader();

  // Reads the properties and nested components of `component` (the body of its
  // `object ... end` block). TComponent::ReadState calls this.
  void ReadData(TComponent* component);

private:
  struct Impl;
  Impl* impl_;
};

} // namespace keltk
