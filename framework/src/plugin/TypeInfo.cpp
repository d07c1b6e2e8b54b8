#include "TypeInfo.h"

namespace kelvarin::detail {

const keltk::EnumInfo& LoadOptionInfo() {
  static const keltk::EnumInfo info =
      keltk::EnumInfo::sequence("TLoadOption", {"loBreakLoopOnError"});
  return info;
}

const keltk::EnumInfo& PropToMonitorInfo() {
  static const keltk::EnumInfo info = keltk::EnumInfo::sequence(
      "TPropToMonitor", {"pmLoadOptions", "pmPluginExtension", "pmPluginFolder", "pmItemsToLog",
                         "pmPluginsTopLevelMenu"});
  return info;
}

const keltk::EnumInfo& LogKindInfo() {
  static const keltk::EnumInfo info = keltk::EnumInfo::sequence(
      "TLogKind", {"lkTotal", "lkAction", "lkError", "lkCommand", "lkMessage", "lkUser"});
  return info;
}

const keltk::EnumInfo& LogDumpOnInfo() {
  static const keltk::EnumInfo info =
      keltk::EnumInfo::sequence("TLogDumpOn", {"doNever", "doEachNewItem", "doClosingManager"});
  return info;
}

} // namespace kelvarin::detail
