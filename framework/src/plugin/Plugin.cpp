#include "kelvarin/plugin.h"

#include "ExceptionReport.h"
#include "HostContextRegistry.h"
#include "LogCalls.h"
#include "Origin.h"
#include "TypeInfo.h"
#include "UnattachedLog.h"
#include "kelvarin/Catalogue.h"
#include "kelvarin/Errors.h"
#include "kelvarin/Framework.h"
#include "kelvarin/manager.h"

#include <keltk/PropInfo.h>
#include <keltk/Resources.h>
#include <optional>
#include <string>

namespace kelvarin {

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
  MethodFrame site{"TulmKel.Create"};
  site.step = 1;
  GuardedPassOn(this, site, [&] {
    site.step = 3;
    about_ = kFrameworkBanner;
    commands_.reset(keltk::CreateObject<TCommands>(this));
    description_.reset(keltk::CreateObject<keltk::TStringList>());
    menuMerging_.reset(keltk::CreateObject<TMenuMerging>());
    maxInstances_ = 1;
    version_ = "1.0";
    site.step = 4;
    initialized_ = false;
    finalized_ = false;
    instanceCount_ = 0;
    site.step = 5;
    ownApplication_ = keltk::Application();
    ownScreen_ = keltk::Screen();
    site.step = 6;
    usesToolkitModule_ =
        keltk::TComponent::StaticClass().moduleBase() != TulmKel::StaticClass().moduleBase();
    moduleHandle_ = nullptr;
    RegisterOrigin(this, OriginKind::Plugin);
  });
}

TulmKel::~TulmKel() {
  UnregisterOrigin(this);
  MethodFrame site{"TulmKel.Destroy"};
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    // The module's own context becomes current again before the module goes.
    const HostContextRegistry::Departure left =
        HostContextRegistry::instance().leave(this, {ownApplication_, ownScreen_});
    if (left.restore) {
      const auto [application, screen] = *left.restore;
      const bool changed = (application != nullptr && application != keltk::Application()) ||
                           (screen != nullptr && screen != keltk::Screen());
      if (left.wasUser && changed && manager_ != nullptr)
        LogAction(*manager_, ActionText::ContextRestored);
      if (application != nullptr) keltk::SetApplication(application);
      if (screen != nullptr) keltk::SetScreen(screen);
    }
    site.step = 2;
    commands_.reset();
    description_.reset();
    menuMerging_.reset();
  });
}

void TulmKel::SetDescription(keltk::TStrings* lines) {
  MethodFrame site{"TulmKel.SetDescription"};
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    if (lines != nullptr) description_->Assign(lines);
  });
}

void TulmKel::Loaded() {
  MethodFrame site{"TulmKel.Loaded"};
  site.step = 1;
  GuardedPassOn(this, site, [&] { TDataModule::Loaded(); });
}

void TulmKel::ReadState(keltk::TReader& reader) {
  MethodFrame site{"TulmKel.ReadState"};
  site.step = 1;
  GuardedPassOn(this, site, [&] { TDataModule::ReadState(reader); });
}

void TulmKel::WriteState(keltk::TWriter& writer) {
  MethodFrame site{"TulmKel.WriteState"};
  site.step = 1;
  GuardedPassOn(this, site, [&] { TDataModule::WriteState(writer); });
}

void TulmKel::ReadStoredForm() {
  MethodFrame site{"TulmKel.Create"};
  site.step = 7;
  GuardedPassOn(this, site, [&] {
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
  MethodFrame site{"TulmKel.Initialize"};
  site.step = 11;
  GuardedSwallow(this, site, [&] {
    const TErrorClass initializationError = &EulmKelInitializationError::StaticClass();
    site.step = 12;
    if (initialized_) {
      LogError(*this,
               FormatError(initializationError, result, E009, {keltk::VarStr(shortFileName_)}));
      return;
    }

    // This code's toolkit copy is the plug-in module's: with a copy of its own the
    // module sees objects of its own, and the host's must become current.
    site.step = 13;
    HostContextRegistry::instance().enter(this);
    if (keltk::Application() != hostApplication_ || keltk::Screen() != hostScreen_) {
      keltk::SetApplication(hostApplication_);
      keltk::SetScreen(hostScreen_);
      LogAction(*this, ActionText::ContextAssumed);
    }

    site.step = 14;
    bool canLoad = true;
    std::optional<std::string> raised;
    site.step = 15;
    if (onInitialize_) {
      // The handler's answer is not consulted, and it must not leak into this
      // result: a refusal after a handler that answered smrOk would read as success.
      raised = CallHandler(this, site, [&] {
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
    site.step = 16;
    if (menuMerging_->Automatic()) {
      result = MergeMenu();
      if (!result.Success) return;
    }
    site.step = 17;
    result = smrOk;
  });
  return result;
}

TKelMethodResult TulmKel::Finalize() {
  TKelMethodResult result = smrUnexpectedError;
  MethodFrame site{"TulmKel.Finalize"};
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    site.step = 2;
    TErrorClass finalizationError = &EulmKelFinalizationError::StaticClass();
    if (manager_ != nullptr) {
      if (!manager_->CheckIf_PluginNotInitializedYet(result, finalizationError, this)) return;
    } else if (!initialized_) {
      // Without a manager there is nobody to ask; the answer is the same.
      FormatError(finalizationError, result, E008, {keltk::VarStr(shortFileName_)});
      return;
    }
    site.step = 3;
    if (finalized_) {
      LogError(*this,
               FormatError(finalizationError, result, E00A, {keltk::VarStr(shortFileName_)}));
      return;
    }
    site.step = 4;
    if (onFinalize_)
      if (auto error = CallHandler(this, site, [&] { (void)onFinalize_(); }))
        LogError(*this, PluginEventFailure("OnFinalize()", shortFileName_, *error));
    site.step = 5;
    if (menuMerging_->MergedItem() != nullptr) {
      GuardedSwallow(this, site, [&] { (void)UnmergeMenu(); });
    }
    site.step = 6;
    finalized_ = true;
    result = smrOk;
  });
  return result;
}

TKelMethodResult TulmKel::LogIt(std::string_view msg, TLogKind kind) {
  TKelMethodResult result;
  MethodFrame site{"TulmKel.LogIt"};
  site.step = 11;
  bool answered = false;
  GuardedSwallow(this, site, [&] {
    site.step = 12;
    if (manager_ == nullptr) detail::LogUnattached(msg, kind);
    if (manager_ == nullptr || manager_->Log() == nullptr) return;
    manager_->Log()->LogIt(SealOrigin(this), msg, kind, result);
    answered = true;
  });
  if (!answered) result = smrUnexpectedError;
  return result;
}

} // namespace kelvarin
