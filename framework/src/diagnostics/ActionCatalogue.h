// The texts of the action entries, laid out as the error catalogue is: one name
// per text, the texts in one table. Arguments fill the "%s" places in order.
#pragma once

#include <cstdint>
#include <fmt/format.h>
#include <initializer_list>
#include <string>
#include <string_view>

namespace kelvarin {

enum class ActionText : std::uint8_t {
  ManagerReady,
  ManagerClosed,
  LoadingPlugin,
  PluginLoaded,
  CancelingLoad,
  UnloadingPlugins,
  UnloadingPlugin,
  PluginUnloaded,
  UnloadQueued,
  FileChanged,
  ReloadRefused,
  SettingUp,
  ContextAssumed,
  ContextRestored,
  MenuMerged,
  MenuUnmerged,
  ShortcutKept,
};

// The text of `text` with its "%s" places filled by `args`, in order; a place
// without an argument stays empty. Built in `out`, whose own storage holds the
// usual line without an allocation.
std::string_view ActionLine(fmt::memory_buffer& out, ActionText text,
                            std::initializer_list<std::string_view> args = {});

} // namespace kelvarin
