#include "keltk/DataModule.h"

#include "DesignedLifecycle.h"
#include "keltk/PropInfo.h"

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
  constructDesigned(
      *this, StaticClass(), createNew_, oldCreateOrder_, [this] { ReadStoredForm(); },
      [this] { DoCreate(); });
}

void TDataModule::BeforeDestruction() {
  DoDestroy();
}

void TDataModule::ReadStoredForm() {
  readStoredFormsBelow(*this, StaticClass());
}

void TDataModule::DoCreate() {
  raiseDesignedEvent(onCreate_, this);
}

void TDataModule::DoDestroy() {
  raiseDesignedEvent(onDestroy_, this);
}

} // namespace keltk
