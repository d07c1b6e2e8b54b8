#include "kelvarin/plugin.h"

#include "ExceptionReport.h"
#include "LogCalls.h"
#include "Origin.h"
#include "TypeInfo.h"
#include "UnattachedLog.h"
#include "kelvarin/Catalogue.h"
#include "kelvarin/Errors.h"
#include "kelvarin/Framework.h"
#include "kelvarin/manager.h"

#include <algorithm>
#include <keltk/PropInfo.h>
#include <keltk/Resources.h>
#include <optional>
#include <string>
#include <vector>

namespace kelvarin {

namespace {

TMethodSite siteCreate{"TulmKel.Create"};
TMethodSite siteDestroy{"TulmKel.Destroy"};
TMethodSite siteLoaded{"TulmKel.Loaded"};
TMethodSite siteReadState{"TulmKel.ReadState"};
TMethodSite siteWriteState{"TulmKel.WriteState"};
TMethodSite siteInitialize{"TulmKel.Initialize"};
TMethodSite siteFinalize{"TulmKel.Finalize"};
TMethodSite siteSetDescription{"TulmKel.SetDescription"};
TMethodSite siteLogIt{"TulmKel.LogIt"};

// The plug-ins of this copy that run in the host's context, and the objects that
// were current before the first of them made the host's current. Plug-ins that
// share a toolkit copy share its current objects: the copy's own come back only
// when the last of them goes, not under the feet of the others.
struct HostContextUsers {
  std::vector<const TulmKel*> plugins;
  keltk::TApplication* savedApplication = nullptr;
  keltk::TScreen* savedScreen = nullptr;
};

HostContextUsers& hostContextUsers() {
  static HostContextUsers users;
  return users;
}

} // namespace

const keltk::TClassInfo& TulmKel::StaticClass() {
  static keltk::TClassInfo info(
      "TulmKel", &keltk::TDataModule::StaticClass(), [](keltk::TClassInfo& i) {
        keltk::ClassBuilder<TulmKel> b(i);
        b.string("About", &TulmKel::About, &TulmKel::SetAbout);
        b.string("Author", &TulmKel::Author, &TulmKel::SetAuthor);
        b.object("Commands", &TulmKel::GetCommands);
        b.string("Copyright", &TulmKel::Copyright, &TulmKel::SetCopyright);
        b.string("DeepName", &TulmKel::DeepName, &TulmKel::SetDeepName);
        b.object("Description", &TulmKel::Description);
        b.integer("MaxInstances", &TulmKel::MaxInstances, &TulmKel::SetMaxInstances)
            .defaultValue(1);
        b.object("MenuMerging", &TulmKel::MenuMerging);
        b.set("PropsToMonitor", detail::PropToMonitorInfo(), &TulmKel::PropsToMonitor,
              &TulmKel::SetPropsToMonitor);
        b.string("Version", &TulmKel::Version, &TulmKel::SetVersion);
        b.event("OnInitialize", &TulmKel::OnInitialize, &TulmKel::SetOnInitialize);
        b.event("OnFinalize", &TulmKel::OnFinalize, &TulmKel::SetOnFinalize);
        b.event("OnMessage", &TulmKel::OnMessage, &TulmKel::SetOnMessage);
        b.event("OnSetup", &TulmKel::OnSetup, &TulmKel::SetOnSetup);
        b.event("OnAnyPluginAfterLoad", &TulmKel::OnAnyPluginAfterLoad,
                &TulmKel::SetOnAnyPluginAfterLoad);
        b.event("OnAnyPluginBeforeLoad", &TulmKel::OnAnyPluginBeforeLoad,
                &TulmKel::SetOnAnyPluginBeforeLoad);
        b.event("OnAnyPluginAfterUnload", &TulmKel::OnAnyPluginAfterUnload,
                &TulmKel::SetOnAnyPluginAfterUnload);
        b.event("OnAnyPluginBeforeUnload", &TulmKel::OnAnyPluginBeforeUnload,
                &TulmKel::SetOnAnyPluginBeforeUnload);
        b.event("OnLogChanged", &TulmKel::OnLogChanged, &TulmKel::SetOnLogChanged);
        b.event("OnPropertyModified", &TulmKel::OnPropertyModified,
                &TulmKel::SetOnPropertyModified);
      });
  return info;
}

TulmKel::TulmKel(keltk::TComponent* owner) : TDataModule(owner) {
  siteCreate.step = 1;
  GuardedPassOn(this, siteCreate, [&] {
    siteCreate.step = 3;
    about_ = kFrameworkBanner;
    commands_.reset(keltk::CreateObject<TCommands>(this));
    description_.reset(keltk::CreateObject<keltk::TStringList>());
    menuMerging_.reset(keltk::CreateObject<TMenuMerging>());
    maxInstances_ = 1;
    version_ = "1.0";
    siteCreate.step = 4;
    initialized_ = false;
    finalized_ = false;
    instanceCount_ = 0;
    siteCreate.step = 5;
    ownApplication_ = keltk::Application();
    ownScreen_ = keltk::Screen();
    siteCreate.step = 6;
    usesToolkitModule_ =
        keltk::TComponent::StaticClass().moduleBase() != TulmKel::StaticClass().moduleBase();
    moduleHandle_ = nullptr;
    RegisterOrigin(this, OriginKind::Plugin);
  });
}

TulmKel::~TulmKel() {
  UnregisterOrigin(this);
  siteDestroy.step = 1;
  GuardedSwallow(this, siteDestroy, [&] {
    // The module's own context becomes current again before the module goes.
    HostContextUsers& users = hostContextUsers();
    const auto self = std::find(users.plugins.begin(), users.plugins.end(), this);
    const bool wasUser = self != users.plugins.end();
    if (wasUser) users.plugins.erase(self);
    if (users.plugins.empty()) {
      keltk::TApplication* application = wasUser ? users.savedApplication : ownApplication_;
      keltk::TScreen* screen = wasUser ? users.savedScreen : ownScreen_;
      const bool changed = (application != nullptr && application != keltk::Application()) ||
                           (screen != nullptr && screen != keltk::Screen());
      if (wasUser && changed && manager_ != nullptr)
        LogAction(*manager_, ActionText::ContextRestored);
      if (application != nullptr) keltk::SetApplication(application);
      if (screen != nullptr) keltk::SetScreen(screen);
    }
    siteDestroy.step = 2;
    commands_.reset();
    description_.reset();
    menuMerging_.reset();
  });
}

void TulmKel::SetDescription(keltk::TStrings* lines) {
  siteSetDescription.step = 1;
  GuardedSwallow(this, siteSetDescription, [&] {
    if (lines != nullptr) description_->Assign(lines);
  });
}

void TulmKel::Loaded() {
  siteLoaded.step = 1;
  GuardedPassOn(this, siteLoaded, [&] { TDataModule::Loaded(); });
}

void TulmKel::ReadState(keltk::TReader& reader) {
  siteReadState.step = 1;
  GuardedPassOn(this, siteReadState, [&] { TDataModule::ReadState(reader); });
}

void TulmKel::WriteState(keltk::TWriter& writer) {
  siteWriteState.step = 1;
  GuardedPassOn(this, siteWriteState, [&] { TDataModule::WriteState(writer); });
}

void TulmKel::ReadStoredForm() {
  siteCreate.step = 7;
  GuardedPassOn(this, siteCreate, [&] {
    // TulmKel itself has no stored form; its descendants read theirs from here down.
    if (ClassName() == "TulmKel") return;
    if (keltk::InitInheritedComponent(this, TulmKel::StaticClass())) return;
    TKelMethodResult result = smrUnexpectedError;
    const std::string className = ClassName();
    LogError(*this, FormatError(&EulmKelCreationError::StaticClass(), result, E019,
                                {keltk::VarStr(className)}));
    RaiseResult(result);
  });
}

TKelMethodResult TulmKel::Initialize(keltk::TVarRecs Params) {
  TKelMethodResult result = smrUnexpectedError;
  siteInitialize.step = 11;
  GuardedSwallow(this, siteInitialize, [&] {
    const TErrorClass initializationError = &EulmKelInitializationError::StaticClass();
    siteInitialize.step = 12;
    if (initialized_) {
      LogError(*this,
               FormatError(initializationError, result, E009, {keltk::VarStr(shortFileName_)}));
      return;
    }

    // This code's toolkit copy is the plug-in module's: with a copy of its own the
    // module sees objects of its own, and the host's must become current.
    siteInitialize.step = 13;
    HostContextUsers& users = hostContextUsers();
    if (users.plugins.empty()) {
      users.savedApplication = keltk::Application();
      users.savedScreen = keltk::Screen();
    }
    users.plugins.push_back(this);
    if (keltk::Application() != hostApplication_ || keltk::Screen() != hostScreen_) {
      keltk::SetApplication(hostApplication_);
      keltk::SetScreen(hostScreen_);
      LogAction(*this, ActionText::ContextAssumed);
    }

    siteInitialize.step = 14;
    bool canLoad = true;
    std::optional<std::string> raised;
    siteInitialize.step = 15;
    if (onInitialize_) {
      // The handler's answer is not consulted, and it must not leak into this
      // result: a refusal after a handler that answered smrOk would read as success.
      raised = CallHandler(this, siteInitialize, [&] {
        [[maybe_unused]] TKelMethodResult ignored = onInitialize_(Params, canLoad);
      });
      if (raised) LogError(*this, PluginEventFailure("OnInitialize()", shortFileName_, *raised));
    }
    initialized_ = true;
    if (raised) {
      LogError(*this,
               FormatError(initializationError, result, E006, {keltk::VarStr(shortFileName_)}));
      return;
    }
    if (!canLoad) {
      LogError(*this,
               FormatError(initializationError, result, E003, {keltk::VarStr(shortFileName_)}));
      return;
    }
    siteInitialize.step = 16;
    if (menuMerging_->Automatic()) {
      result = MergeMenu();
      if (!result.Success) return;
    }
    siteInitialize.step = 17;
    result = smrOk;
  });
  return result;
}

TKelMethodResult TulmKel::Finalize() {
  TKelMethodResult result = smrUnexpectedError;
  siteFinalize.step = 1;
  GuardedSwallow(this, siteFinalize, [&] {
    siteFinalize.step = 2;
    TErrorClass finalizationError = &EulmKelFinalizationError::StaticClass();
    if (manager_ != nullptr) {
      if (!manager_->CheckIf_PluginNotInitializedYet(result, finalizationError, this)) return;
    } else if (!initialized_) {
      // Without a manager there is nobody to ask; the answer is the same.
      FormatError(finalizationError, result, E008, {keltk::VarStr(shortFileName_)});
      return;
    }
    siteFinalize.step = 3;
    if (finalized_) {
      LogError(*this,
               FormatError(finalizationError, result, E00A, {keltk::VarStr(shortFileName_)}));
      return;
    }
    siteFinalize.step = 4;
    if (onFinalize_)
      if (auto error = CallHandler(this, siteFinalize, [&] { (void)onFinalize_(); }))
        LogError(*this, PluginEventFailure("OnFinalize()", shortFileName_, *error));
    siteFinalize.step = 5;
    if (menuMerging_->MergedItem() != nullptr) {
      GuardedSwallow(this, siteFinalize, [&] { (void)UnmergeMenu(); });
    }
    siteFinalize.step = 6;
    finalized_ = true;
    result = smrOk;
  });
  return result;
}

namespace detail {
namespace {
UnattachedLogSink unattachedSink = nullptr;
void* unattachedContext = nullptr;
} // namespace

void SetUnattachedLogSink(UnattachedLogSink sink, void* context) {
  unattachedSink = sink;
  unattachedContext = context;
}
} // namespace detail

TKelMethodResult TulmKel::LogIt(std::string_view msg, TLogKind kind) {
  TKelMethodResult result = smrUnexpectedError;
  siteLogIt.step = 11;
  GuardedSwallow(this, siteLogIt, [&] {
    siteLogIt.step = 12;
    if (manager_ == nullptr && detail::unattachedSink != nullptr)
      detail::unattachedSink(detail::unattachedContext, msg, kind);
    if (manager_ == nullptr || manager_->Log() == nullptr) return;
    manager_->Log()->LogIt(SealOrigin(this), msg, kind, result);
  });
  return result;
}

} // namespace kelvarin
