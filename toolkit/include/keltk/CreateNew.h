// The constructor tag for designed containers (forms, data modules) that are to
// stay bare: constructed without reading their stored forms.
#pragma once

namespace keltk {

struct TCreateNew {};
inline constexpr TCreateNew CreateNew{};

} // namespace keltk
