// The plug-in side: TulmKel, the base class of every plug-in object.
#pragma once

#include "kelvarin/Commands.h"
#include "kelvarin/EventTypes.h"
#include "kelvarin/Log.h"
#include "kelvarin/MenuMerging.h"
#include "kelvarin/MethodResult.h"
#include "kelvarin/Types.h"

#include <cstdint>
#include <keltk/Application.h>
#include <keltk/Component.h>
#include <keltk/DataModule.h>
#include <keltk/Strings.h>
#include <string>
#include <string_view>

namespace kelvarin {

class TulmKelMan;
class TulmKel;

// The answer of an OnInitialize handler is not consulted: to refuse the load, set
// CanLoad to false (E003) or raise (E006). A handler that answers an error but
// leaves CanLoad set gets a loaded plug-in.
using TEventOnInitialize = keltk::Event<TKelMethodResult(keltk::TVarRecs Params, bool& CanLoad)>;
using TEventOnFinalize = keltk::Event<TKelMethodResult()>;
using TEventOnSetup = keltk::Event<TKelMethodResult()>;
using TEventOnAnyPluginAfterLoad = keltk::Event<void(TulmKel* Plugin)>;
using TEventOnAnyPluginBeforeLoad =
    keltk::Event<void(const std::string& FileName, bool& AllowLoad)>;
// PluginPtr only identifies the unloaded plug-in: that object no longer exists.
using TEventOnAnyPluginAfterUnload =
    keltk::Event<void(TulmKel* PluginPtr, const std::string& FileName)>;
using TEventOnAnyPluginBeforeUnload = keltk::Event<void(TulmKel* Plugin)>;

// A plug-in object is made by its module's RegisterKelvarin and from then on
// owned by the manager that loads it, which destroys it when it is unloaded or its
// load fails, before the module is released. Plug-in code never deletes it; a
// plug-in that wants to go asks Manager() to unload it (from inside its own code
// the unload waits until that code has returned).
class TulmKel : public keltk::TDataModule {
public:
  explicit TulmKel(keltk::TComponent* owner);
  ~TulmKel() override;
  static const keltk::TClassInfo& StaticClass();
  const keltk::TClassInfo& ClassType() const override { return StaticClass(); }

  // Published identity and settings.
  const std::string& About() const { return about_; }
  void SetAbout(const std::string&) {}
  const std::string& Author() const { return author_; }
  void SetAuthor(const std::string& author) { author_ = author; }
  // The commands offered to the host, owned. Setting copies the given commands
  // into the owned collection; none is ignored. GetCommands is the published
  // property's reader (forms and the property system use it) and answers the same
  // collection as Commands.
  TCommands* Commands() const { return commands_.get(); }
  TCommands* GetCommands() const;
  void SetCommands(const TCommands* commands);
  const std::string& Copyright() const { return copyright_; }
  void SetCopyright(const std::string& copyright) { copyright_ = copyright; }
  const std::string& DeepName() const { return deepName_; }
  void SetDeepName(const std::string& name) { deepName_ = name; }
  // The owned description; assigning copies the lines of `lines` (none: no change).
  keltk::TStrings* Description() const { return description_.get(); }
  void SetDescription(keltk::TStrings* lines);
  std::uint16_t MaxInstances() const { return maxInstances_; }
  void SetMaxInstances(std::uint16_t count) { maxInstances_ = count; }
  // The menu-merging settings, owned; stored data fills them property by property.
  TMenuMerging* MenuMerging() const { return menuMerging_.get(); }
  TPropsToMonitorSet PropsToMonitor() const { return propsToMonitor_; }
  void SetPropsToMonitor(TPropsToMonitorSet props) { propsToMonitor_ = props; }
  const std::string& Version() const { return version_; }
  void SetVersion(const std::string& version) { version_ = version; }

  // Published events.
  const TEventOnInitialize& OnInitialize() const { return onInitialize_; }
  void SetOnInitialize(const TEventOnInitialize& e) { onInitialize_ = e; }
  const TEventOnFinalize& OnFinalize() const { return onFinalize_; }
  void SetOnFinalize(const TEventOnFinalize& e) { onFinalize_ = e; }
  const TEventOnMessage& OnMessage() const { return onMessage_; }
  void SetOnMessage(const TEventOnMessage& e) { onMessage_ = e; }
  const TEventOnSetup& OnSetup() const { return onSetup_; }
  void SetOnSetup(const TEventOnSetup& e) { onSetup_ = e; }
  const TEventOnAnyPluginAfterLoad& OnAnyPluginAfterLoad() const { return onAnyAfterLoad_; }
  void SetOnAnyPluginAfterLoad(const TEventOnAnyPluginAfterLoad& e) { onAnyAfterLoad_ = e; }
  const TEventOnAnyPluginBeforeLoad& OnAnyPluginBeforeLoad() const { return onAnyBeforeLoad_; }
  void SetOnAnyPluginBeforeLoad(const TEventOnAnyPluginBeforeLoad& e) { onAnyBeforeLoad_ = e; }
  const TEventOnAnyPluginAfterUnload& OnAnyPluginAfterUnload() const { return onAnyAfterUnload_; }
  void SetOnAnyPluginAfterUnload(const TEventOnAnyPluginAfterUnload& e) { onAnyAfterUnload_ = e; }
  const TEventOnAnyPluginBeforeUnload& OnAnyPluginBeforeUnload() const {
    return onAnyBeforeUnload_;
  }
  void SetOnAnyPluginBeforeUnload(const TEventOnAnyPluginBeforeUnload& e) {
    onAnyBeforeUnload_ = e;
  }
  const TEventOnLogChanged& OnLogChanged() const { return onLogChanged_; }
  void SetOnLogChanged(const TEventOnLogChanged& e) { onLogChanged_ = e; }
  const TEventOnPropertyModified& OnPropertyModified() const { return onPropertyModified_; }
  void SetOnPropertyModified(const TEventOnPropertyModified& e) { onPropertyModified_ = e; }

  // Run-time fields, written by the manager that loads the plug-in.
  TulmKelMan* Manager() const { return manager_; }
  const std::string& FileName() const { return fileName_; }
  const std::string& ShortFileName() const { return shortFileName_; }
  std::int64_t FileSize() const { return fileSize_; }
  void* ModuleHandle() const { return moduleHandle_; }
  keltk::TApplication* HostApplication() const { return hostApplication_; }
  keltk::TScreen* HostScreen() const { return hostScreen_; }
  keltk::TApplication* OwnApplication() const { return ownApplication_; }
  keltk::TScreen* OwnScreen() const { return ownScreen_; }
  std::int16_t InstanceCount() const { return instanceCount_; }
  bool Initialized() const { return initialized_; }
  bool Finalized() const { return finalized_; }
  bool UsesToolkitModule() const { return usesToolkitModule_; }

  // How many calls into this plug-in's code are on the stack.
  int CodeDepth() const { return codeDepth_; }
  bool CodeRunning() const { return codeDepth_ > 0; }

  // Initializes the plug-in once, after the manager's hand-over: makes the host's
  // application and screen objects current in this code's toolkit copy, asks
  // OnInitialize whether it may load (through CanLoad and exceptions only, not its
  // answer), merges the menu when MenuMerging.Automatic is set, and answers smrOk,
  // E003, E006, E009 or the failed merge's result.
  // Virtual, like Finalize, so that the code of the framework copy the plug-in's
  // module uses runs, whichever copy the manager calling it belongs to.
  [[nodiscard]] virtual TKelMethodResult Initialize(keltk::TVarRecs Params);
  // Finalizes the plug-in once, after it was initialized: runs OnFinalize (its
  // answer and exceptions do not change the outcome) and answers smrOk.
  [[nodiscard]] virtual TKelMethodResult Finalize();

  // One entry in the manager's log with this plug-in as origin.
  TKelMethodResult LogIt(std::string_view msg, TLogKind kind);

  // Copies MenuMerging.SourceMenu into the host's main menu through the manager
  // and keeps the result in MenuMerging.MergedItem (an earlier merge is taken out
  // first); UnmergeMenu frees that item again (E028 when there is none).
  [[nodiscard]] TKelMethodResult MergeMenu();
  [[nodiscard]] TKelMethodResult UnmergeMenu();

  void Loaded() override;
  void ReadState(keltk::TReader& reader) override;
  void WriteState(keltk::TWriter& writer) override;

protected:
  // Reads the stored forms of the classes below TulmKel; a plug-in class without
  // one cannot be created (E019).
  void ReadStoredForm() override;

private:
  // The manager's hand-over and the framework's bookkeeping. Written inline, so
  // that every framework copy in the process writes the same fields.
  friend class FrameworkAccess;
  void SetManager(TulmKelMan* manager) { manager_ = manager; }
  void SetFileName(const std::string& name) { fileName_ = name; }
  void SetShortFileName(const std::string& name) { shortFileName_ = name; }
  void SetFileSize(std::int64_t size) { fileSize_ = size; }
  void SetModuleHandle(void* handle) { moduleHandle_ = handle; }
  void SetHostApplication(keltk::TApplication* app) { hostApplication_ = app; }
  void SetHostScreen(keltk::TScreen* screen) { hostScreen_ = screen; }
  void SetInstanceCount(std::int16_t count) { instanceCount_ = count; }
  void EnterCode() { ++codeDepth_; }
  void LeaveCode() { --codeDepth_; }

  bool initialized_ = false;
  bool finalized_ = false;
  std::string about_;
  std::string author_;
  keltk::ObjectPtr<TCommands> commands_;
  std::string copyright_;
  std::string deepName_;
  keltk::ObjectPtr<keltk::TStringList> description_;
  std::uint16_t maxInstances_ = 1;
  keltk::ObjectPtr<TMenuMerging> menuMerging_;
  TPropsToMonitorSet propsToMonitor_;
  std::string version_;

  TEventOnInitialize onInitialize_;
  TEventOnFinalize onFinalize_;
  TEventOnMessage onMessage_;
  TEventOnSetup onSetup_;
  TEventOnAnyPluginAfterLoad onAnyAfterLoad_;
  TEventOnAnyPluginBeforeLoad onAnyBeforeLoad_;
  TEventOnAnyPluginAfterUnload onAnyAfterUnload_;
  TEventOnAnyPluginBeforeUnload onAnyBeforeUnload_;
  TEventOnLogChanged onLogChanged_;
  TEventOnPropertyModified onPropertyModified_;

  TulmKelMan* manager_ = nullptr;
  std::string fileName_;
  std::string shortFileName_;
  std::int64_t fileSize_ = 0;
  void* moduleHandle_ = nullptr;
  keltk::TApplication* hostApplication_ = nullptr;
  keltk::TScreen* hostScreen_ = nullptr;
  keltk::TApplication* ownApplication_ = nullptr;
  keltk::TScreen* ownScreen_ = nullptr;
  std::int16_t instanceCount_ = 0;
  bool usesToolkitModule_ = false;
  int codeDepth_ = 0;
};

} // namespace kelvarin
