// The host side: TulmKelMan, the component a host puts on its main form to load,
// unload and watch plug-ins.
#pragma once

#include "kelvarin/EventTypes.h"
#include "kelvarin/Framework.h"
#include "kelvarin/Log.h"
#include "kelvarin/MethodResult.h"
#include "kelvarin/Origin.h"
#include "kelvarin/Types.h"

#include <cstdint>
#include <keltk/Application.h>
#include <keltk/Component.h>
#include <string>
#include <string_view>
#include <vector>

namespace keltk {
class TMenuItem;
} // namespace keltk

namespace kelvarin {

class TulmKel;

using TEventOnAfterLoad = keltk::Event<void(TulmKel* Plugin)>;
using TEventOnBeforeLoad = keltk::Event<void(const std::string& FileName, bool& AllowLoad)>;
// PluginPtr only identifies the unloaded plug-in: that object no longer exists.
using TEventOnAfterUnload = keltk::Event<void(TulmKel* PluginPtr, const std::string& FileName)>;
using TEventOnBeforeUnload = keltk::Event<void(TulmKel* Plugin)>;

class TulmKelMan : public keltk::TComponent {
public:
  explicit TulmKelMan(keltk::TComponent* owner);
  ~TulmKelMan() override;
  static const keltk::TClassInfo& StaticClass();
  const keltk::TClassInfo& ClassType() const override { return StaticClass(); }

  // Published settings. About always reads the framework banner.
  const std::string& About() const { return about_; }
  void SetAbout(const std::string&) {}
  TLoadOptionsSet LoadOptions() const { return loadOptions_; }
  void SetLoadOptions(TLoadOptionsSet options);
  TLog* Log() const { return log_.get(); }
  const std::string& PluginExtension() const { return pluginExtension_; }
  void SetPluginExtension(const std::string& extension);
  const std::string& PluginFolder() const { return pluginFolder_; }
  void SetPluginFolder(const std::string& folder);
  keltk::TMenuItem* PluginsTopLevelMenu() const { return pluginsTopLevelMenu_; }
  void SetPluginsTopLevelMenu(keltk::TMenuItem* menu);
  TPropsToMonitorSet PropsToMonitor() const { return propsToMonitor_; }
  void SetPropsToMonitor(TPropsToMonitorSet props) { propsToMonitor_ = props; }

  // Published events.
  const TEventOnMessage& OnMessage() const { return onMessage_; }
  void SetOnMessage(const TEventOnMessage& e) { onMessage_ = e; }
  const TEventOnAfterLoad& OnAfterLoad() const { return onAfterLoad_; }
  void SetOnAfterLoad(const TEventOnAfterLoad& e) { onAfterLoad_ = e; }
  const TEventOnBeforeLoad& OnBeforeLoad() const { return onBeforeLoad_; }
  void SetOnBeforeLoad(const TEventOnBeforeLoad& e) { onBeforeLoad_ = e; }
  const TEventOnAfterUnload& OnAfterUnload() const { return onAfterUnload_; }
  void SetOnAfterUnload(const TEventOnAfterUnload& e) { onAfterUnload_ = e; }
  const TEventOnBeforeUnload& OnBeforeUnload() const { return onBeforeUnload_; }
  void SetOnBeforeUnload(const TEventOnBeforeUnload& e) { onBeforeUnload_ = e; }
  const TEventOnLogChanged& OnLogChanged() const { return onLogChanged_; }
  void SetOnLogChanged(const TEventOnLogChanged& e) { onLogChanged_ = e; }
  const TEventOnPropertyModified& OnPropertyModified() const { return onPropertyModified_; }
  void SetOnPropertyModified(const TEventOnPropertyModified& e) { onPropertyModified_ = e; }

  // The loaded plug-ins, oldest first. GetPlugins answers null for any index
  // outside the list.
  int GetPluginCount() const;
  TulmKel* GetPlugins(int index) const;
  int PluginCount() const { return GetPluginCount(); }
  TulmKel* Plugins(int index) const { return GetPlugins(index); }

  // Guards of the manager's operations. Each answers True when its check passes;
  // otherwise it fills `result` with its code, message and `errorClass` (leaving
  // Success alone) and logs the message as an error.
  bool CheckIf_NoPluginsLoaded(TKelMethodResult& result, TErrorClass errorClass);
  bool CheckIf_InvalidPluginIndex(TKelMethodResult& result, TErrorClass errorClass, int index);
  bool CheckIf_PluginNotInitializedYet(TKelMethodResult& result, TErrorClass errorClass,
                                       TulmKel* plugin);
  // With `index` other than -1, first sets `plugin` to GetPlugins(index).
  bool CheckIf_PluginCouldNotBeAccessed(TKelMethodResult& result, TErrorClass errorClass, int index,
                                        TulmKel*& plugin);

  // One entry in the log with the manager as origin (nothing while designing).
  void LogIt(std::string_view msg, TLogKind kind, TKelMethodResult& result);
  TKelMethodResult LogIt(std::string_view msg, TLogKind kind);
  // Hands the statistics block to the log's closing dump (unless DumpOn is doNever).
  void DumpStats();

  // Unloading: by index, by object, all (newest first), or later at idle time.
  TKelMethodResult UnloadPlugin(bool ShowErrorMessage, int Index);
  TKelMethodResult UnloadPlugin(bool ShowErrorMessage, TulmKel* Plugin);
  TKelMethodResult UnloadPlugin(TulmKel* Plugin);
  TKelMethodResult UnloadAllPlugins(bool ShowErrorMessage);
  // Queues `plugin` for unloading by the next idle event and returns at once.
  void UnloadPluginLater(TulmKel* plugin);
  int PendingUnloadCount() const { return static_cast<int>(pendingUnloads_.size()); }
  // The application idle handler: drains the unload queue, then chains to the
  // handler it replaced.
  void OnAppIdle(keltk::TObject* Sender, bool& Done);
  // Makes the application's idle event lead to OnAppIdle, unless a manager's
  // OnAppIdle already receives it; the handler found there is kept in SavedOnIdle.
  void HookApplicationIdle();

  const keltk::TIdleEvent& SavedOnIdle() const { return savedOnIdle_; }
  const keltk::TIdleEvent& OwnIdleHandler() const { return ownIdleHandler_; }
  bool InIdle() const { return inIdle_; }
  bool UsesToolkitModule() const { return usesToolkitModule_; }
  void* ToolkitModuleHandle() const { return toolkitModuleHandle_; }

  void Loaded() override;
  void ReadState(keltk::TReader& reader) override;
  void WriteState(keltk::TWriter& writer) override;

protected:
  void Notification(keltk::TComponent* component, keltk::TOperation operation) override;
  // Appends a plug-in that has been loaded and initialized; returns its index.
  int AppendPlugin(TulmKel* plugin);

  std::vector<TulmKel*> plugins_;
  std::vector<TulmKel*> pendingUnloads_;
  keltk::TIdleEvent savedOnIdle_;
  keltk::TIdleEvent ownIdleHandler_;
  bool inIdle_ = false;
  bool usesToolkitModule_ = false;
  void* toolkitModuleHandle_ = nullptr;
  keltk::TApplication* hookedApplication_ = nullptr; // whose idle event leads here

private:
  bool isLogged(TLogKind kind) const;
  void logError(std::string_view msg);

  // Declared first so that the manager stays a valid log origin until its log is gone.
  OriginRegistration registration_{this, OriginKind::Manager};
  std::string about_;
  TLoadOptionsSet loadOptions_;
  keltk::ObjectPtr<TLog> log_;
  std::string pluginExtension_;
  std::string pluginFolder_;
  keltk::TMenuItem* pluginsTopLevelMenu_ = nullptr;
  TPropsToMonitorSet propsToMonitor_;

  TEventOnMessage onMessage_;
  TEventOnAfterLoad onAfterLoad_;
  TEventOnBeforeLoad onBeforeLoad_;
  TEventOnAfterUnload onAfterUnload_;
  TEventOnBeforeUnload onBeforeUnload_;
  TEventOnLogChanged onLogChanged_;
  TEventOnPropertyModified onPropertyModified_;
};

} // namespace kelvarin
