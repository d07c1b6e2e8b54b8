#include "TypeInfo.h"

namespace kelvarin::detail {

const keltk::EnumInfo& loadOptionInfo() {
  static const keltk::EnumInfo info =
      keltk::EnumInfo::sequence("TLoadOption", {"loBreakLoopOnError"});
  return info;
}

const keltk::EnumInfo& propToMonitorInfo() {
  static const keltk::EnumInfo info = keltk::EnumInfo::sequence(
      "TPropToMonitor", {"pmLoadOptions", "pmPluginExtension", "pmPluginFolder", "pmItemsToLog",
                         "pmPluginsTopLevelMenu"});
  return info;
}

const keltk::EnumInfo& logKindInfo() {
  static const keltk::EnumInfo info = keltk::EnumInfo::sequence(
      "TLogKind", {"lkTotal", "lkAction", "lkError", "lkCommand", "lkMessage", "lkUser"});
  return info;
}

const keltk::EnumInfo& logDumpOnInfo() {
  static const keltk::EnumInfo info =
      keltk::EnumInfo::sequence("TLogDumpOn", {"doNever", "doEachNewItem", "doClosingManager"});
  return info;
}

} // namespace kelvarin::detail
