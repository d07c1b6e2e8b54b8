// The host side: TulmKelMan, the component a host puts on its main form to load,
// unload and watch plug-ins.
#pragma once

#include "kelvarin/Discovery.h"
#include "kelvarin/EventTypes.h"
#include "kelvarin/Framework.h"
#include "kelvarin/Log.h"
#include "kelvarin/MenuMerging.h"
#include "kelvarin/MethodResult.h"
#include "kelvarin/Types.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <keltk/Application.h>
#include <keltk/Component.h>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace keltk {
class TMenuItem;
} // namespace keltk

namespace kelvarin {

class TulmKel;
class TCommand;
class TCommands;
class PluginObserver;
class PluginLoad;
class PluginUnload;
class IdleHub;
class PluginReloader;
class HandlerFrame;
struct MethodFrame;

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

  // A manager belongs to the thread that created it (the GUI thread). Its
  // operations refuse a call from any other thread at once, touching nothing:
  // the result says so, and an error entry is posted to the manager's thread.
  // Worker threads hand their work over with keltk::RunOnMainThread.
  bool CalledFromOwnThread() const { return std::this_thread::get_id() == ownThread_; }

  // The loaded plug-ins, oldest first. GetPlugins answers null for any index
  // outside the list. PluginCount and Plugins are the same two readers under the
  // properties' own names.
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

  // Loading: resolves FileName against PluginFolder and PluginExtension, lets the
  // host and the loaded plug-ins refuse, loads the module, checks its framework
  // version, creates, hands over, counts and initializes the plug-in and tells
  // everyone. A failed load is undone by CancelPlugin; LoadedPlugin (when given)
  // then reads null. The short form shows no message box and passes no Params.
  //
  // LoadPlugin (the long form), the UnloadPlugin forms that take a bool,
  // UnloadAllPlugins and UnloadPluginLater are virtual: the manager's own framework
  // copy runs them, whichever copy the caller uses. Every other member runs the
  // code of the caller's copy on the manager's fields: the same code whenever host
  // and plug-ins use the shared framework library (kelvarin_add_plugin and
  // pkg-config build them so). MergeMenu, LogIt and the CheckIf_ guards are among
  // these.
  [[nodiscard]] virtual TKelMethodResult LoadPlugin(bool ShowErrorMessage,
                                                    const std::string& FileName,
                                                    keltk::TVarRecs Params,
                                                    TulmKel** LoadedPlugin = nullptr);
  [[nodiscard]] TKelMethodResult LoadPlugin(const std::string& FileName,
                                            TulmKel** LoadedPlugin = nullptr);
  // Undoes a load that failed half way: finalizes the plug-in when it was
  // initialized, takes it out of the list, recounts the other instances, destroys
  // it and releases the module. `Plugin` (when not null) must be alive.
  [[nodiscard]] TKelMethodResult CancelPlugin(TulmKel* Plugin, const std::string& FileName,
                                              void* Module);
  // Why the last load found no plug-in: the operating system's reason for a
  // module that could not be loaded (E001), or the message with which the
  // module's RegisterKelvarin raised (a stored form that does not read names
  // its line and column). Empty when the last load got as far as a plug-in.
  const std::string& LastModuleError() const { return lastModuleError_; }

  // Unloading: by index, by object, all (newest first), or later at idle time.
  // A plug-in whose own code is running (any code of its module on the stack: a
  // handler or command the framework called, a click on its own menu item or
  // button, a host item's handler it replaced) is not unloaded at once, since
  // its module would be released under that code: it is queued as by
  // UnloadPluginLater, the action entry "Plugin Unload Queued: "<DeepName>"
  // ("<FileName>")." says so, and smrOk then means "accepted"; the idle handler
  // unloads it once that code has returned. UnloadAllPlugins goes on in passes
  // until the list is empty (handlers may load plug-ins meanwhile) and gives up,
  // with an error entry, when handlers keep loading. While the manager is being
  // destroyed it loads nothing (E002).
  [[nodiscard]] virtual TKelMethodResult UnloadPlugin(bool ShowErrorMessage, int Index);
  [[nodiscard]] virtual TKelMethodResult UnloadPlugin(bool ShowErrorMessage, TulmKel* Plugin);
  [[nodiscard]] TKelMethodResult UnloadPlugin(TulmKel* Plugin);
  [[nodiscard]] virtual TKelMethodResult UnloadAllPlugins(bool ShowErrorMessage);
  // Queues `plugin` for unloading by the next idle event and returns at once. A
  // plug-in already queued is not queued twice.
  virtual void UnloadPluginLater(TulmKel* plugin);
  bool UnloadPending(const TulmKel* plugin) const;
  // The plug-in at `address` among this manager's loaded plug-ins and the ones it
  // is loading or unloading right now; null for any other address. Compares
  // addresses only.
  TulmKel* FindOwnPlugin(const void* address) const;
  int PendingUnloadCount() const { return static_cast<int>(pendingUnloads_.size()); }
  // The application idle handler: drains the unload queue, then chains to the
  // handler it replaced. OwnIdleHandler is one handler shared by every manager of
  // this framework copy: it drains the queue of each live manager and leads here
  // for the one that installed it.
  void OnAppIdle(keltk::TObject* Sender, bool& Done);
  // Makes the application's idle event lead to OnAppIdle, unless a manager's
  // OnAppIdle already receives it; the handler found there is kept in SavedOnIdle.
  void HookApplicationIdle();

  const keltk::TIdleEvent& SavedOnIdle() const { return savedOnIdle_; }
  const keltk::TIdleEvent& OwnIdleHandler() const { return ownIdleHandler_; }
  bool InIdle() const { return inIdle_; }
  bool UsesToolkitModule() const { return usesToolkitModule_; }
  void* ToolkitModuleHandle() const { return toolkitModuleHandle_; }

  // The plug-in modules in `Folder` (PluginFolder by default; the current folder
  // when that is empty or missing) whose names end in "." + PluginExtension,
  // described from their files without loading them. Each is loadable, built for
  // another framework version, not a plug-in module, damaged, or one that this
  // manager has loaded (same file, compared by canonical path).
  std::vector<TPluginFileInfo> DiscoverPlugins() const;
  std::vector<TPluginFileInfo> DiscoverPlugins(const std::string& Folder) const;

  // Reload on change. With it on, the files of the loaded plug-ins are watched
  // through the application's event loop. When one is replaced or rewritten and
  // then still for ReloadSettleDelay milliseconds, the action entry "Plugin File
  // Changed: "<file>"." is logged, its plug-ins are queued for unloading at the
  // next idle step (which waits while their code runs) and the file is loaded
  // again with the arguments of its last load. A new file that fails to load is
  // reported as any failed load and stays watched. False (and off) when no event
  // loop that can watch files runs.
  bool ReloadOnChange() const;
  bool SetReloadOnChange(bool Watch);
  int ReloadSettleDelay() const;
  void SetReloadSettleDelay(int Milliseconds);

  // Copies `Source`, its properties, handlers and sub-items, into the host's main
  // menu at the target that TargetMenu and ValueToSearch find, placed as MergeType
  // says. MergedItem is the item that carries the copy, or null after a failure
  // (E026, E022, E029, E01C). A failed merge leaves nothing in the host's menu that
  // leads into the source's handlers.
  [[nodiscard]] TKelMethodResult MergeMenu(keltk::TMenuItem* Source, TTargetMenu TargetMenu,
                                           const std::string& ValueToSearch,
                                           TMenuMergeType MergeType, keltk::TMenuItem*& MergedItem);

  // Driving loaded plug-ins. Each answers the handler's own result, or a failure
  // of class EulmKelError logged as an error entry: E01A when no plug-in is
  // loaded, E01F (index -1) for a plug-in that is not in this manager's list,
  // E00B / E00C / E00D for a missing handler.
  //
  // A command is found by name (without regard to case; E01B when the plug-in has
  // no commands, E020 with index -1 when none has the name) or by position (E01E
  // outside the list). Its arguments are then checked as the command's switches
  // ask: CheckParamCount, exactly as many arguments as declared parameters (E024);
  // CheckParamType, each argument's tag accepted by the type of the parameter at
  // its position (ParamTypeAccepts; E025 names the zero-based position). A null
  // argument is keltk::TVarRec::Null() (any argument whose IsNull() holds); it is
  // accepted for every parameter when AllowNullInAllParams is True and refused
  // for every parameter otherwise, whatever CheckParamType says. Every call that
  // reaches the handler is logged as an lkCommand entry first.
  [[nodiscard]] TKelMethodResult ExecuteCommand(TulmKel* Plugin, const std::string& Name,
                                                keltk::TVarRecs Params);
  [[nodiscard]] TKelMethodResult ExecuteCommand(TulmKel* Plugin, int Index, keltk::TVarRecs Params);
  [[nodiscard]] TKelMethodResult ExecuteCommand(TulmKel* Plugin, const std::string& Name,
                                                std::initializer_list<keltk::TVarRec> Params = {});
  [[nodiscard]] TKelMethodResult ExecuteCommand(TulmKel* Plugin, int Index,
                                                std::initializer_list<keltk::TVarRec> Params = {});
  // Hands a message to a plug-in's OnMessage, or with a null Plugin to the
  // manager's own (the host's); logged as an lkMessage entry. E00D for the host
  // names the running program's file.
  [[nodiscard]] TKelMethodResult SendMessage(TulmKel* Plugin, std::int32_t MsgID,
                                             keltk::TVarRecs Params);
  [[nodiscard]] TKelMethodResult SendMessage(TulmKel* Plugin, std::int32_t MsgID,
                                             std::initializer_list<keltk::TVarRec> Params = {});
  // Runs the plug-in's OnSetup.
  [[nodiscard]] TKelMethodResult SetupPlugin(TulmKel* Plugin);

  void Loaded() override;
  void ReadState(keltk::TReader& reader) override;
  void WriteState(keltk::TWriter& writer) override;

protected:
  void Notification(keltk::TComponent* component, keltk::TOperation operation) override;

private:
  friend class FrameworkAccess;
  friend class PluginObserver;
  friend class PluginLoad;
  friend class PluginUnload;
  friend class IdleHub;
  friend class PluginReloader;
  friend class HandlerFrame;
  // Destroys a plug-in object of this manager and forgets it everywhere: queued
  // unloads, and the watches of operations still holding its pointer.
  void destroyPlugin(TulmKel* plugin);
  void forgetPlugin(TulmKel* plugin); // tells every observer it is gone, drops it from the queue
  // At destruction: unloads the plug-ins whose code is still running, freeing
  // them and their modules once that code has returned.
  void unloadRunningPlugins();
  // Tells the manager's, then each plug-in's OnPropertyModified (newest first),
  // each when its PropsToMonitor names `property`.
  void broadcastPropertyChange(TPropToMonitor property, const void* oldValue, const void* newValue,
                               MethodFrame& site);
  // Gives every listed instance named `deepName` the instance count `count`; one
  // that raises does not keep the others from it.
  void shareInstanceCount(const std::string& deepName, int count, MethodFrame& site);
  // Whether the host and every loaded plug-in let `fileName` be loaded.
  bool loadAllowed(const std::string& fileName, MethodFrame& site);

  // Appends a plug-in that has been loaded and initialized; returns its index.
  int AppendPlugin(TulmKel* plugin);
  // MergeMenu, also answering what the merge found beside the item it made.
  TKelMethodResult mergeMenu(keltk::TMenuItem* source, TTargetMenu targetMenu,
                             const std::string& valueToSearch, TMenuMergeType mergeType,
                             keltk::TMenuItem*& mergedItem,
                             std::vector<TMenuMerging::SiblingState>& siblingsBefore);

  std::vector<TulmKel*> plugins_;
  std::vector<TulmKel*> pendingUnloads_;
  keltk::TIdleEvent savedOnIdle_;
  keltk::TIdleEvent ownIdleHandler_;
  bool inIdle_ = false;
  bool usesToolkitModule_ = false;
  void* toolkitModuleHandle_ = nullptr;
  keltk::TApplication* hookedApplication_ = nullptr; // whose idle event leads here

  // Operations in progress that hold plug-in pointers across handler calls.
  std::vector<PluginObserver*> watches_;
  std::string lastModuleError_;

  // Unmaps a plug-in's module once nothing reaches into it: what the module
  // left on the objects that stay is cleared now, with one log line.
  void releaseModule(void* module, const std::string& fileName);
  // The index of `plugin` in the list, -1 when it is not there.
  int indexOf(const TulmKel* plugin) const;
  // Unloads the queued plug-ins whose code is not running, the latest queued first.
  void drainPendingUnloads();
  // Takes the manager's idle hook out of its application, or hands it on to
  // another manager of this copy.
  void unhookApplicationIdle();
  bool closing_ = false; // being destroyed: loads nothing more
  // The plug-in whose destructor runs: what it logs reaches no handler of its own.
  const TulmKel* dying_ = nullptr;
  const HandlerFrame* runningHandler_ = nullptr; // innermost handler being called
  std::thread::id ownThread_ = std::this_thread::get_id();
  // E01A / E01F unless `plugin` is in the list.
  bool checkLoadedPlugin(TKelMethodResult& result, TulmKel* plugin);
  // Both ExecuteCommand overloads: the plug-in's checks, then `pick` finds the
  // command or fills the result with why there is none.
  using CommandPicker =
      std::function<TCommand*(TCommands& commands, TKelMethodResult& result, MethodFrame& site)>;
  TKelMethodResult executeCommand(TulmKel* plugin, keltk::TVarRecs params,
                                  const CommandPicker& pick);
  TKelMethodResult runCommand(TulmKel* plugin, TCommand* command, keltk::TVarRecs params,
                              MethodFrame& site);

  // Keeps the manager a live log origin while it exists. Declared before the log
  // and the reloader, so that it outlasts both.
  class OriginRegistration {
  public:
    explicit OriginRegistration(TulmKelMan* manager);
    ~OriginRegistration();
    OriginRegistration(const OriginRegistration&) = delete;
    OriginRegistration& operator=(const OriginRegistration&) = delete;

  private:
    TulmKelMan* manager_;
  };
  OriginRegistration registration_{this};
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

  // Load arguments and the file watch; last, so that the unloads of the
  // destructor still reach it.
  keltk::ObjectPtr<PluginReloader> reloader_;
};

} // namespace kelvarin
