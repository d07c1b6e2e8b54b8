// Write access to this copy's catalogue texts, for the dictionary loader only.
#pragma once

#include <cstdint>
#include <string>

namespace kelvarin::detail {

void setErrorMessage(std::int32_t code, std::string text);
void setDictionaryText(int number, std::string text);
void restoreCatalogue();

} // namespace kelvarin::detail
