#include "kelvarin/manager.h"

#include "Broadcast.h"
#include "DumpFile.h"
#include "ExceptionReport.h"
#include "IdleHub.h"
#include "LogCalls.h"
#include "Origin.h"
#include "PluginCallScope.h"
#include "PluginReloader.h"
#include "PluginWatch.h"
#include "ThreadCheck.h"
#include "TypeInfo.h"
#include "kelvarin/Catalogue.h"
#include "kelvarin/Errors.h"
#include "kelvarin/Files.h"
#include "kelvarin/plugin.h"

#include <keltk/Menus.h>
#include <keltk/PropInfo.h>
#include <keltk/StrUtils.h>

namespace kelvarin {

namespace {

// The manager's LogIt reports under the log's name.

// The toolkit's classes all live in one module; so do the framework's.
bool toolkitInAnotherModule() {
  return keltk::TComponent::StaticClass().moduleBase() != TulmKelMan::StaticClass().moduleBase();
}

} // namespace

const keltk::TClassInfo& TulmKelMan::StaticClass() {
  static keltk::TClassInfo info(
      "TulmKelMan", &keltk::TComponent::StaticClass(), [](keltk::TClassInfo& i) {
        keltk::ClassBuilder<TulmKelMan> b(i);
        b.componentFactory();
        b.string("About", &TulmKelMan::About, &TulmKelMan::SetAbout);
        b.set("LoadOptions", detail::LoadOptionInfo(), &TulmKelMan::LoadOptions,
              &TulmKelMan::SetLoadOptions);
        b.object("Log", &TulmKelMan::Log);
        b.string("PluginExtension", &TulmKelMan::PluginExtension, &TulmKelMan::SetPluginExtension);
        b.string("PluginFolder", &TulmKelMan::PluginFolder, &TulmKelMan::SetPluginFolder);
        b.component("PluginsTopLevelMenu", &TulmKelMan::PluginsTopLevelMenu,
                    &TulmKelMan::SetPluginsTopLevelMenu);
        b.set("PropsToMonitor", detail::PropToMonitorInfo(), &TulmKelMan::PropsToMonitor,
              &TulmKelMan::SetPropsToMonitor);
        b.event("OnMessage", &TulmKelMan::OnMessage, &TulmKelMan::SetOnMessage);
        b.event("OnAfterLoad", &TulmKelMan::OnAfterLoad, &TulmKelMan::SetOnAfterLoad);
        b.event("OnBeforeLoad", &TulmKelMan::OnBeforeLoad, &TulmKelMan::SetOnBeforeLoad);
        b.event("OnAfterUnload", &TulmKelMan::OnAfterUnload, &TulmKelMan::SetOnAfterUnload);
        b.event("OnBeforeUnload", &TulmKelMan::OnBeforeUnload, &TulmKelMan::SetOnBeforeUnload);
        b.event("OnLogChanged", &TulmKelMan::OnLogChanged, &TulmKelMan::SetOnLogChanged);
        b.event("OnPropertyModified", &TulmKelMan::OnPropertyModified,
                &TulmKelMan::SetOnPropertyModified);
      });
  return info;
}

TulmKelMan::OriginRegistration::OriginRegistration(TulmKelMan* manager) : manager_(manager) {
  RegisterOrigin(manager, OriginKind::Manager);
}

TulmKelMan::OriginRegistration::~OriginRegistration() {
  UnregisterOrigin(manager_);
}

TulmKelMan::TulmKelMan(keltk::TComponent* owner) : TComponent(owner) {
  MethodFrame site{"TulmKelMan.Create"};
  site.step = 1;
  GuardedPassOn(this, site, [&] {
    site.step = 2;
    about_ = kFrameworkBanner;
    pluginExtension_ = "kel";
    pluginFolder_.clear();
    loadOptions_ = {};
    propsToMonitor_ = {};
    toolkitModuleHandle_ = nullptr;
    site.step = 3;
    log_.reset(keltk::CreateObject<TLog>());
    reloader_.reset(keltk::CreateObject<PluginReloader>(*this));
    log_->SetManager(this);
    site.step = 4;
    plugins_.clear();
    pendingUnloads_.clear();
    site.step = 5;
    ownIdleHandler_ = IdleHub::instance().handler();
    IdleHub::instance().add(this);
    site.step = 6;
    usesToolkitModule_ = toolkitInAnotherModule();
    site.step = 7;
    LogAction(*this, ActionText::ManagerReady);
  });
}

TulmKelMan::~TulmKelMan() {
  closing_ = true;
  if (reloader_) reloader_->setWatching(false);
  unhookApplicationIdle();
  MethodFrame site{"TulmKelMan.Destroy"};
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    // Each plug-in that stays has its reason in the log already.
    if (!plugins_.empty()) (void)UnloadAllPlugins(false);
    // Nothing outlives its manager, not even a plug-in whose code is running.
    if (!plugins_.empty()) unloadRunningPlugins();
    site.step = 2;
    plugins_.clear();
    plugins_.shrink_to_fit();
    site.step = 3;
    if (!HasState(keltk::csDesigning)) LogAction(*this, ActionText::ManagerClosed);
    site.step = 4;
    DumpStats();
    site.step = 5;
    pendingUnloads_.clear();
    log_.reset();
    site.step = 6;
  });
  IdleHub::instance().remove(this);
}

void TulmKelMan::Loaded() {
  MethodFrame site{"TulmKelMan.Loaded"};
  site.step = 1;
  GuardedPassOn(this, site, [&] { TComponent::Loaded(); });
}

void TulmKelMan::ReadState(keltk::TReader& reader) {
  MethodFrame site{"TulmKelMan.ReadState"};
  site.step = 1;
  GuardedPassOn(this, site, [&] { TComponent::ReadState(reader); });
}

void TulmKelMan::WriteState(keltk::TWriter& writer) {
  MethodFrame site{"TulmKelMan.WriteState"};
  site.step = 1;
  GuardedPassOn(this, site, [&] { TComponent::WriteState(writer); });
}

void TulmKelMan::Notification(keltk::TComponent* component, keltk::TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == keltk::TOperation::opRemove && component == pluginsTopLevelMenu_)
    pluginsTopLevelMenu_ = nullptr;
}

void TulmKelMan::SetPluginsTopLevelMenu(keltk::TMenuItem* menu) {
  if (menu == pluginsTopLevelMenu_) return;
  if (pluginsTopLevelMenu_ != nullptr) pluginsTopLevelMenu_->RemoveFreeNotification(this);
  pluginsTopLevelMenu_ = menu;
  // A freed menu item must not stay referenced.
  if (menu != nullptr) menu->FreeNotification(this);
}

void TulmKelMan::broadcastPropertyChange(TPropToMonitor property, const void* oldValue,
                                         const void* newValue, MethodFrame& site) {
  // Host first, then plug-ins newest first, each only when it monitors the property.
  Broadcast(
      *this, site, {"OnPropertyModified()", "OnPropertyModified()"},
      onPropertyModified_ && propsToMonitor_.contains(property),
      [&] { onPropertyModified_(property, oldValue, newValue); },
      [&](TulmKel* plugin) {
        return plugin->OnPropertyModified() && plugin->PropsToMonitor().contains(property);
      },
      [&](TulmKel* plugin) {
        const TEventOnPropertyModified handler = plugin->OnPropertyModified();
        handler(property, oldValue, newValue);
      },
      ShortNameOf);
}

void TulmKelMan::SetLoadOptions(TLoadOptionsSet options) {
  if (!OnManagerThread(*this, "TulmKelMan.SetLoadOptions")) return;
  MethodFrame site{"TulmKelMan.SetLoadOptions"};
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    if (options == loadOptions_) return;
    site.step = 2;
    const TLoadOptionsSet old = loadOptions_;
    loadOptions_ = options;
    site.step = 3;
    broadcastPropertyChange(pmLoadOptions, &old, &options, site);
  });
}

void TulmKelMan::SetPluginFolder(const std::string& folder) {
  if (!OnManagerThread(*this, "TulmKelMan.SetPluginFolder")) return;
  MethodFrame site{"TulmKelMan.SetPluginFolder"};
  GuardedSetter(this, site, [&] {
    site.step = 1;
    if (folder == pluginFolder_) return;
    site.step = 2;
    std::string test = folder;
    if (!test.empty() && test.back() == '/') test.pop_back();
    site.step = 3;
    if (keltk::Trim(test).empty() || FolderExists(test)) {
      // Stored as given, trailing separator and blanks included.
      const std::string old = pluginFolder_;
      const std::string value = folder;
      pluginFolder_ = value;
      broadcastPropertyChange(pmPluginFolder, &old, &value, site);
      return;
    }
    site.step = 51;
    TKelMethodResult refused = smrUnexpectedError;
    LogError(*this, FormatError(&EulmKelPropertyError::StaticClass(), refused, E017,
                                {keltk::VarStr(folder)}));
    site.step = 52;
    if (HasState(keltk::csDesigning)) RaiseMarked(site, refused);
  });
}

void TulmKelMan::SetPluginExtension(const std::string& extension) {
  if (!OnManagerThread(*this, "TulmKelMan.SetPluginExtension")) return;
  MethodFrame site{"TulmKelMan.SetPluginExtension"};
  GuardedSetter(this, site, [&] {
    site.step = 1;
    if (extension == pluginExtension_) return;
    site.step = 2;
    if (extension.find_first_of(" .*") != std::string::npos) {
      site.step = 51;
      TKelMethodResult refused = smrUnexpectedError;
      LogError(*this, FormatError(&EulmKelPropertyError::StaticClass(), refused, E02E,
                                  {keltk::VarStr(extension)}));
      site.step = 52;
      if (HasState(keltk::csDesigning)) RaiseMarked(site, refused);
      return;
    }
    site.step = 3;
    const std::string old = pluginExtension_;
    const std::string value = extension;
    pluginExtension_ = value;
    broadcastPropertyChange(pmPluginExtension, &old, &value, site);
  });
}

int TulmKelMan::GetPluginCount() const {
  MethodFrame site{"TulmKelMan.GetPluginCount"};
  site.step = 1;
  return static_cast<int>(plugins_.size());
}

TulmKel* TulmKelMan::GetPlugins(int index) const {
  MethodFrame site{"TulmKelMan.GetPlugins"};
  site.step = 1;
  if (index < 0 || static_cast<std::size_t>(index) >= plugins_.size()) return nullptr;
  site.step = 2;
  return plugins_[static_cast<std::size_t>(index)];
}

bool TulmKelMan::CheckIf_NoPluginsLoaded(TKelMethodResult& result, TErrorClass errorClass) {
  bool passed = true;
  MethodFrame site{"TulmKelMan.CheckIf_NoPluginsLoaded"};
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    if (GetPluginCount() != 0) return;
    site.step = 11;
    passed = false;
    site.step = 12;
    LogError(*this, FormatError(errorClass, result, E01A));
  });
  return passed;
}

bool TulmKelMan::CheckIf_InvalidPluginIndex(TKelMethodResult& result, TErrorClass errorClass,
                                            int index) {
  bool passed = true;
  MethodFrame site{"TulmKelMan.CheckIf_InvalidPluginIndex"};
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    if (index >= 0 && index <= GetPluginCount() - 1) return;
    site.step = 11;
    passed = false;
    site.step = 12;
    LogError(*this, FormatError(errorClass, result, E01D, {keltk::VarInt(index)}));
  });
  return passed;
}

bool TulmKelMan::CheckIf_PluginNotInitializedYet(TKelMethodResult& result, TErrorClass errorClass,
                                                 TulmKel* plugin) {
  bool passed = true;
  MethodFrame site{"TulmKelMan.CheckIf_PluginNotInitializedYet"};
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    if (plugin != nullptr && plugin->Initialized()) return;
    site.step = 11;
    passed = false;
    // A missing plug-in has no file name to quote.
    const std::string name = plugin != nullptr ? keltk::ExtractFileName(plugin->FileName()) : "";
    site.step = 12;
    LogError(*this, FormatError(errorClass, result, E008, {keltk::VarStr(name)}));
  });
  return passed;
}

bool TulmKelMan::CheckIf_PluginCouldNotBeAccessed(TKelMethodResult& result, TErrorClass errorClass,
                                                  int index, TulmKel*& plugin) {
  bool passed = true;
  MethodFrame site{"TulmKelMan.CheckIf_PluginCouldNotBeAccessed"};
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    if (index != -1) {
      site.step = 2;
      plugin = GetPlugins(index);
    }
    if (plugin != nullptr) return;
    site.step = 11;
    passed = false;
    site.step = 12;
    LogError(*this, FormatError(errorClass, result, E01F, {keltk::VarInt(index)}));
  });
  return passed;
}

void TulmKelMan::LogIt(std::string_view msg, TLogKind kind, TKelMethodResult& result) {
  if (!OnManagerThread(*this, "TulmKelMan.LogIt", &result)) return;
  if (HasState(keltk::csDesigning)) {
    result = smrOk;
    return;
  }
  MethodFrame site{"TLog.LogIt"};
  site.step = 1;
  bool recorded = false;
  GuardedSwallow(this, site, [&] {
    site.step = 2;
    // The manager is its log's own origin: no need to look it up.
    recorded = log_ != nullptr && log_->record(this, true, msg, kind, site);
  });
  // Set once, at the end: the failure's copy would cost an allocation per entry.
  result = recorded ? smrOk : smrUnexpectedError;
}

TKelMethodResult TulmKelMan::LogIt(std::string_view msg, TLogKind kind) {
  TKelMethodResult result;
  LogIt(msg, kind, result);
  return result;
}

void TulmKelMan::DumpStats() {
  if (!OnManagerThread(*this, "TulmKelMan.DumpStats")) return;
  MethodFrame site{"TulmKelMan.DumpStats"};
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    if (log_ == nullptr || log_->DumpOn() == doNever) return;
    site.step = 2;
    std::array<std::int32_t, kLogKindCount> counts{};
    for (std::size_t kind = 0; kind < kLogKindCount; ++kind)
      counts[kind] = log_->GetCount(static_cast<TLogKind>(kind));
    site.step = 3;
    const std::optional<std::string> block = StatisticsBlock(counts);
    if (!block) return; // nothing was counted: no file at all
    site.step = 4;
    log_->DumpLog(*block);
  });
}

} // namespace kelvarin
