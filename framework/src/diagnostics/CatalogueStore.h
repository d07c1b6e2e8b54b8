// Write access to this copy's catalogue texts, for the dictionary loader only.
#pragma once

#include <cstdint>
#include <string>

namespace kelvarin::detail {

void SetErrorMessage(std::int32_t code, std::string text);
void SetDictionaryText(int number, std::string text);
void RestoreCatalogue();

} // namespace kelvarin::detail
