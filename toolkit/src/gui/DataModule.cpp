#include "keltk/DataModule.h"

#include "keltk/Application.h"
#include "keltk/Exception.h"
#include "keltk/PropInfo.h"
#include "keltk/Resources.h"

#include <fmt/format.h>
#include <mutex>

namespace keltk {

TDataModule::TDataModule(TComponent* owner) : TComponent(owner) {}
TDataModule::TDataModule(TComponent* owner, TCreateNew) : TComponent(owner), createNew_(true) {}
TDataModule::~TDataModule() = default;

const TClassInfo& TDataModule::StaticClass() {
  static TClassInfo info("TDataModule", &TComponent::StaticClass(), [](TClassInfo& i) {
    using D = TDataModule;
    ClassBuilder<D> b(i);
    b.componentFactory();
    b.boolean("OldCreateOrder", &D::OldCreateOrder, &D::SetOldCreateOrder);
    b.event("OnCreate", &D::OnCreate, &D::SetOnCreate);
    b.event("OnDestroy", &D::OnDestroy, &D::SetOnDestroy);
    b.integer("Left", &D::DesignLeft, &D::SetDesignLeft);
    b.integer("Top", &D::DesignTop, &D::SetDesignTop);
    b.integer("Height", &D::DesignHeight, &D::SetDesignHeight);
    b.integer("Width", &D::DesignWidth, &D::SetDesignWidth);
  });
  return info;
}

void TDataModule::AfterConstruction() {
  {
    std::lock_guard<std::recursive_mutex> lock(GlobalNameSpace());
    if (!createNew_ && ClassName() != "TDataModule" && !HasState(csDesigning)) {
      ReadStoredForm();
      if (oldCreateOrder_) DoCreate();
    }
  }
  if (!oldCreateOrder_) DoCreate();
}

void TDataModule::BeforeDestruction() {
  DoDestroy();
}

void TDataModule::ReadStoredForm() {
  if (!InitInheritedComponent(this, TDataModule::StaticClass()))
    throw EResNotFound(fmt::format("Resource {} not found", ClassName()));
}

void TDataModule::DoCreate() {
  if (!onCreate_) return;
  try {
    onCreate_(this);
  } catch (const Exception& e) {
    Application()->HandleException(e);
  }
}

void TDataModule::DoDestroy() {
  if (!onDestroy_) return;
  try {
    onDestroy_(this);
  } catch (const Exception& e) {
    Application()->HandleException(e);
  }
}

} // namespace keltk
