#include "kelvarin/plugin.h"

#include "TypeInfo.h"
#include "kelvarin/Catalogue.h"
#include "kelvarin/Errors.h"
#include "kelvarin/ExceptionReport.h"
#include "kelvarin/Framework.h"
#include "kelvarin/Origin.h"
#include "kelvarin/manager.h"

#include <keltk/PropInfo.h>
#include <keltk/Resources.h>

namespace kelvarin {

namespace {

TMethodSite siteCreate{"TulmKel.Create"};
TMethodSite siteDestroy{"TulmKel.Destroy"};
TMethodSite siteLoaded{"TulmKel.Loaded"};
TMethodSite siteReadState{"TulmKel.ReadState"};
TMethodSite siteWriteState{"TulmKel.WriteState"};
TMethodSite siteFinalize{"TulmKel.Finalize"};
TMethodSite siteLogIt{"TulmKel.LogIt"};

} // namespace

const keltk::TClassInfo& TulmKel::StaticClass() {
  static keltk::TClassInfo info(
      "TulmKel", &keltk::TDataModule::StaticClass(), [](keltk::TClassInfo& i) {
        keltk::ClassBuilder<TulmKel> b(i);
        b.string("About", &TulmKel::About, &TulmKel::SetAbout);
        b.string("Author", &TulmKel::Author, &TulmKel::SetAuthor);
        b.string("Copyright", &TulmKel::Copyright, &TulmKel::SetCopyright);
        b.string("DeepName", &TulmKel::DeepName, &TulmKel::SetDeepName);
        b.integer("MaxInstances", &TulmKel::MaxInstances, &TulmKel::SetMaxInstances)
            .defaultValue(1);
        b.set("PropsToMonitor", detail::propToMonitorInfo(), &TulmKel::PropsToMonitor,
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
    if (ownApplication_ != nullptr) keltk::SetApplication(ownApplication_);
    if (ownScreen_ != nullptr) keltk::SetScreen(ownScreen_);
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
    LogIt(
        FormatError(&EulmKelCreationError::StaticClass(), result, E019, {keltk::VarStr(className)}),
        lkError);
    RaiseResult(result);
  });
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
      LogIt(FormatError(finalizationError, result, E00A, {keltk::VarStr(shortFileName_)}), lkError);
      return;
    }
    siteFinalize.step = 4;
    if (onFinalize_)
      if (auto error = CallHandler([&] { onFinalize_(); }))
        LogIt(PluginEventFailure("OnFinalize()", shortFileName_, *error), lkError);
    siteFinalize.step = 6;
    finalized_ = true;
    result = smrOk;
  });
  return result;
}

TKelMethodResult TulmKel::LogIt(std::string_view msg, TLogKind kind) {
  TKelMethodResult result = smrUnexpectedError;
  siteLogIt.step = 11;
  GuardedSwallow(this, siteLogIt, [&] {
    siteLogIt.step = 12;
    if (manager_ == nullptr || manager_->Log() == nullptr) return;
    manager_->Log()->LogIt(SealOrigin(this), msg, kind, result);
  });
  return result;
}

} // namespace kelvarin
