#include "ActionCatalogue.h"

#include <cstddef>
#include <utility>

namespace kelvarin {

namespace {

constexpr std::pair<ActionText, const char*> actionTexts[] = {
    {ActionText::ManagerReady, "Manager Ready."},
    {ActionText::ManagerClosed, "Manager Closed Normally."},
    {ActionText::LoadingPlugin, "Loading Plugin: \"%s\"..."},
    {ActionText::PluginLoaded, "Plugin Loaded: \"%s\" (\"%s\")."},
    {ActionText::CancelingLoad, "Canceling Loading Of Plugin: \"%s\"."},
    {ActionText::UnloadingPlugins, "Unloading Plugins..."},
    {ActionText::UnloadingPlugin, "Unloading Plugin: \"%s\" (\"%s\")..."},
    {ActionText::PluginUnloaded, "Plugin Unloaded: \"%s\" (\"%s\")."},
    {ActionText::UnloadQueued, "Plugin Unload Queued: \"%s\" (\"%s\")."},
    {ActionText::FileChanged, "Plugin File Changed: \"%s\"."},
    {ActionText::ReloadRefused, "Plugin Reload Refused: \"%s\" (\"%s\"): the loaded build stays."},
    {ActionText::SettingUp, "Setting up plugin \"%s\"..."},
    {ActionText::ContextAssumed, "Context assumed from host application (was distinct)."},
    {ActionText::ContextRestored, "Original context restored (was changed)."},
    {ActionText::MenuMerged, "Menu \"%s\" of plugin \"%s\" mergged."},
    {ActionText::MenuUnmerged, "Menu \"%s\" of plugin \"%s\" unmergged."},
    {ActionText::ShortcutKept, "Shortcut \"%s\" of \"%s\" stays with \"%s\"."},
};

// The table lists every text once, in the order of the enumeration.
constexpr bool tableComplete() {
  for (std::size_t i = 0; i < std::size(actionTexts); ++i)
    if (actionTexts[i].first != static_cast<ActionText>(i)) return false;
  return std::size(actionTexts) == static_cast<std::size_t>(ActionText::ShortcutKept) + 1;
}
static_assert(tableComplete());

} // namespace

std::string_view ActionLine(fmt::memory_buffer& out, ActionText text,
                            std::initializer_list<std::string_view> args) {
  std::string_view pattern = actionTexts[static_cast<std::size_t>(text)].second;
  const std::string_view* arg = args.begin();
  const auto append = [&](std::string_view piece) {
    out.append(piece.data(), piece.data() + piece.size());
  };
  for (std::size_t at = pattern.find("%s"); at != std::string_view::npos; at = pattern.find("%s")) {
    append(pattern.substr(0, at));
    if (arg != args.end()) append(*arg++);
    pattern.remove_prefix(at + 2);
  }
  append(pattern);
  return {out.data(), out.size()};
}

} // namespace kelvarin
