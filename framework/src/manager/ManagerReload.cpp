// What a host learns about its plug-in folder before loading, and plug-ins that
// come back from their rebuilt files.
#include "PluginReloader.h"
#include "kelvarin/Files.h"
#include "kelvarin/manager.h"
#include "kelvarin/plugin.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace kelvarin {

namespace {

std::string canonical(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

} // namespace

std::vector<TPluginFileInfo> TulmKelMan::DiscoverPlugins() const {
  const bool useFolder = !pluginFolder_.empty() && FolderExists(pluginFolder_);
  return DiscoverPlugins(useFolder ? pluginFolder_ : std::string());
}

std::vector<TPluginFileInfo> TulmKelMan::DiscoverPlugins(const std::string& Folder) const {
  std::vector<TPluginFileInfo> list = DescribePluginFolder(Folder, pluginExtension_);
  if (plugins_.empty()) return list;
  std::vector<std::string> loaded;
  for (const TulmKel* plugin : plugins_)
    if (plugin != nullptr) loaded.push_back(canonical(plugin->FileName()));
  for (TPluginFileInfo& info : list)
    if (info.State == TPluginFileState::Loadable &&
        std::find(loaded.begin(), loaded.end(), canonical(info.FileName)) != loaded.end())
      info.State = TPluginFileState::AlreadyLoaded;
  return list;
}

bool TulmKelMan::ReloadOnChange() const {
  return reloader_ && reloader_->watching();
}

bool TulmKelMan::SetReloadOnChange(bool Watch) {
  return reloader_ && reloader_->setWatching(Watch);
}

int TulmKelMan::ReloadSettleDelay() const {
  return reloader_ ? reloader_->settleDelay() : 0;
}

void TulmKelMan::SetReloadSettleDelay(int Milliseconds) {
  if (reloader_) reloader_->setSettleDelay(Milliseconds);
}

} // namespace kelvarin
