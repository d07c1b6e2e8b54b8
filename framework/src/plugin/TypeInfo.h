// Names of the framework's enumerations, as stored form data writes them.
#pragma once

#include <keltk/PropInfo.h>

namespace kelvarin::detail {

const keltk::EnumInfo& LoadOptionInfo();
const keltk::EnumInfo& PropToMonitorInfo();
const keltk::EnumInfo& LogKindInfo();
const keltk::EnumInfo& LogDumpOnInfo();

} // namespace kelvarin::detail
