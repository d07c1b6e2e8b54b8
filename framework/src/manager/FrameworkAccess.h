// The framework's own writes to what hosts and plug-ins may only read: the
// hand-over fields of a plug-in, its instance count and code depth, and the
// manager's plug-in list. Inline, so every framework copy in the process writes
// the same fields of the object.
#pragma once

#include "kelvarin/manager.h"
#include "kelvarin/plugin.h"

#include <cstdint>
#include <keltk/Application.h>
#include <keltk/StrUtils.h>
#include <string>
#include <string_view>

namespace kelvarin {

class FrameworkAccess {
public:
  static void setManager(TulmKel& p, TulmKelMan* manager) { p.SetManager(manager); }
  static void setHostApplication(TulmKel& p, keltk::TApplication* app) {
    p.SetHostApplication(app);
  }
  static void setInstanceCount(TulmKel& p, std::int16_t count) { p.SetInstanceCount(count); }

  // What a load hands the plug-in its module made: its manager and module, the
  // file it came from, and the host's current objects, which Initialize makes
  // the module's own.
  static void handOver(TulmKel& p, TulmKelMan& manager, void* module, const std::string& fileName,
                       std::int64_t fileSize) {
    p.SetManager(&manager);
    p.SetModuleHandle(module);
    p.SetFileName(fileName);
    p.SetShortFileName(keltk::ExtractFileName(fileName));
    p.SetFileSize(fileSize);
    p.SetHostApplication(keltk::Application());
    p.SetHostScreen(keltk::Screen());
  }
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
