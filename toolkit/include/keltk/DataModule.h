// Data modules: designed containers of non-visual components.
#pragma once

#include "keltk/Component.h"
#include "keltk/CreateNew.h"
#include "keltk/NotifyEvent.h"

namespace keltk {

class TDataModule : public TComponent {
public:
  // The bare construction: nothing is read yet (see AfterConstruction).
  explicit TDataModule(TComponent* owner);
  // A bare data module that stays bare: AfterConstruction reads nothing.
  TDataModule(TComponent* owner, TCreateNew);
  ~TDataModule() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  // Unless the object is a plain TDataModule, a bare one or a designed one, reads
  // the stored forms of its classes below TDataModule (ReadStoredForm) under the
  // global name-space lock, raising OnCreate right after reading when
  // OldCreateOrder is set; otherwise OnCreate follows once construction is done.
  void AfterConstruction() override;
  // Raises OnDestroy.
  void BeforeDestruction() override;

  bool OldCreateOrder() const { return oldCreateOrder_; }
  void SetOldCreateOrder(bool value) { oldCreateOrder_ = value; }
  const TNotifyEvent& OnCreate() const { return onCreate_; }
  void SetOnCreate(const TNotifyEvent& handler) { onCreate_ = handler; }
  const TNotifyEvent& OnDestroy() const { return onDestroy_; }
  void SetOnDestroy(const TNotifyEvent& handler) { onDestroy_ = handler; }

  // Where the module's window stood in the designer (stored as Left, Top, Height
  // and Width).
  int DesignLeft() const { return designLeft_; }
  void SetDesignLeft(int v) { designLeft_ = v; }
  int DesignTop() const { return designTop_; }
  void SetDesignTop(int v) { designTop_ = v; }
  int DesignWidth() const { return designWidth_; }
  void SetDesignWidth(int v) { designWidth_ = v; }
  int DesignHeight() const { return designHeight_; }
  void SetDesignHeight(int v) { designHeight_ = v; }

protected:
  // Reads the stored forms of the classes from TDataModule (exclusive) down to
  // this one's; raises EResNotFound when there are none. Descendants may wrap it
  // to report the failure their own way.
  virtual void ReadStoredForm();
  // Raise OnCreate / OnDestroy; an exception from the handler goes to the
  // application's HandleException.
  virtual void DoCreate();
  virtual void DoDestroy();

private:
  bool createNew_ = false;
  bool oldCreateOrder_ = false;
  int designLeft_ = 0;
  int designTop_ = 0;
  int designWidth_ = 0;
  int designHeight_ = 0;
  TNotifyEvent onCreate_;
  TNotifyEvent onDestroy_;
};

} // namespace keltk
