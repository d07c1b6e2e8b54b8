// Names of the framework's enumerations, as stored form data writes them.
#pragma once

#include <keltk/PropInfo.h>

namespace kelvarin::detail {

const keltk::EnumInfo& loadOptionInfo();
const keltk::EnumInfo& propToMonitorInfo();
const keltk::EnumInfo& logKindInfo();
const keltk::EnumInfo& logDumpOnInfo();

} // namespace kelvarin::detail
