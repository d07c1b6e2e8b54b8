// The framework's own writes to what hosts and plug-ins may only read: the
// hand-over fields of a plug-in, its instance count and code depth, and the
// manager's plug-in list. Inline, so every framework copy in the process writes
// the same fields of the object.
#pragma once

#include "kelvarin/manager.h"
#include "kelvarin/plugin.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kelvarin {

class FrameworkAccess {
public:
  static void setManager(TulmKel& p, TulmKelMan* manager) { p.SetManager(manager); }
  static void setFileName(TulmKel& p, const std::string& name) { p.SetFileName(name); }
  static void setShortFileName(TulmKel& p, const std::string& name) { p.SetShortFileName(name); }
  static void setFileSize(TulmKel& p, std::int64_t size) { p.SetFileSize(size); }
  static void setModuleHandle(TulmKel& p, void* handle) { p.SetModuleHandle(handle); }
  static void setHostApplication(TulmKel& p, keltk::TApplication* app) {
    p.SetHostApplication(app);
  }
  static void setHostScreen(TulmKel& p, keltk::TScreen* screen) { p.SetHostScreen(screen); }
  static void setInstanceCount(TulmKel& p, std::int16_t count) { p.SetInstanceCount(count); }
  static void setInitialized(TulmKel& p, bool initialized) { p.initialized_ = initialized; }
  static void enterCode(TulmKel& p) { p.EnterCode(); }
  static void leaveCode(TulmKel& p) { p.LeaveCode(); }

  static const char* writeCrashRecord(TLog& log, std::string_view message) noexcept {
    return log.WriteCrashRecord(message);
  }

  // Appends a plug-in that has been loaded and initialized; returns its index.
  static int appendPlugin(TulmKelMan& manager, TulmKel* plugin) {
    return manager.AppendPlugin(plugin);
  }

  // A plug-in's merge keeps what its new item's siblings were before it came.
  static TKelMethodResult mergeMenu(TulmKelMan& manager, const TMenuMerging& settings,
                                    keltk::TMenuItem*& mergedItem,
                                    std::vector<TMenuMerging::SiblingState>& siblingsBefore) {
    return manager.mergeMenu(settings.SourceMenu(), settings.TargetMenu(), settings.ValueToSearch(),
                             settings.MergeType(), mergedItem, siblingsBefore);
  }
};

} // namespace kelvarin
