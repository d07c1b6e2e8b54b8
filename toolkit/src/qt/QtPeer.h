// Peers: the widgets that show model controls, and what keeps the two in step.
#pragma once

#include "QtGuiBackend.h"
#include "keltk/Controls.h"

#include <QPointer>
#include <QWidget>
#include <memory>

namespace keltk {
class TForm;
}

namespace keltk::qt {

class QtPeer;

// The widget's way back to its peer. The peer clears it when it goes, so a widget
// whose deletion is deferred never reaches a freed control.
struct PeerLink {
  QtPeer* peer = nullptr;
};

class QtPeer : public TControlPeer {
public:
  // `widget` carries `link`; the peer owns the widget from now on.
  QtPeer(QtGuiBackend& backend, TControl& control, QWidget* widget, PeerLink& link);
  ~QtPeer() override;
  QtPeer(const QtPeer&) = delete;
  QtPeer& operator=(const QtPeer&) = delete;

  QtGuiBackend& backend() const { return backend_; }
  TControl& control() const { return control_; }
  // Null once Qt deleted the widget by itself (the peer then does nothing).
  QWidget* widget() const { return widget_.data(); }
  // True while the peer changes its widget, so the widget's events are not taken
  // for the user's.
  bool applying() const { return applying_; }

  void changed(TControlChange what) override;
  void invalidate() override;
  void update() override;
  void repaint() override;

  // Brings everything the widget shows in line with the model.
  void applyAll();
  // Forgets the widget without deleting it (Qt is going away with the process).
  void releaseWidget();
  // False for a window the program made and the peer only stands for: what lives
  // inside it is not the control's.
  virtual bool ownsWidget() const { return true; }

protected:
  virtual void applyBounds();
  virtual void applyVisible();
  virtual void applyEnabled();
  virtual void applyText() {}
  virtual void applyColor() { invalidate(); }
  virtual void applyFont();
  virtual void applyAppearance() { invalidate(); }
  void applyParent();
  // A control with a popup menu shows it on the widget's context-menu request;
  // one without leaves the widget its own (an edit's copy and paste).
  void applyPopupMenu();
  // Tab moves the focus through the windowed controls inside in their tab order.
  void applyTabOrder();

  // Sets `applying` for the lifetime of the returned guard.
  struct Applying {
    explicit Applying(QtPeer& p) : peer(p), was(p.applying_) { peer.applying_ = true; }
    ~Applying() { peer.applying_ = was; }
    QtPeer& peer;
    bool was;
  };

private:
  QtGuiBackend& backend_;
  TControl& control_;
  QPointer<QWidget> widget_;
  PeerLink& link_;
  bool applying_ = false;
};

// Runs `call(control)` for an event of the widget behind `link`, through the
// backend's dispatch. Neither the peer nor the widget is touched afterwards: the
// call may free the control, and with it both.
template <class F> void toModel(const PeerLink& link, F&& call) {
  QtPeer* peer = link.peer;
  if (peer == nullptr || peer->applying()) return;
  TControl* control = &peer->control();
  peer->backend().dispatch([&] { call(*control); });
}

// Raises the control's click as the model does for its kind.
void raiseClick(TControl& control);

// What the peers of windowed controls show alike: the keyboard focus by the tab
// stop, the hint as tool tip, the control's colour behind text.
void setTabStop(QWidget* w, const TControl& control);
void setToolTip(QWidget* w, const TControl& control);
void setBaseColor(QWidget* w, const TControl& control);

// One factory per control kind; each makes the widget under `parent` (null for a
// window of its own).
std::unique_ptr<QtPeer> makeFormPeer(QtGuiBackend& backend, TForm& form, QWidget* parent);
std::unique_ptr<QtPeer> makeButtonPeer(QtGuiBackend& backend, TControl& control, QWidget* parent);
std::unique_ptr<QtPeer> makeEditPeer(QtGuiBackend& backend, TControl& control, QWidget* parent);
std::unique_ptr<QtPeer> makeLabelPeer(QtGuiBackend& backend, TControl& control, QWidget* parent);
std::unique_ptr<QtPeer> makeBevelPeer(QtGuiBackend& backend, TControl& control, QWidget* parent);
std::unique_ptr<QtPeer> makeGaugePeer(QtGuiBackend& backend, TControl& control, QWidget* parent);
// Memos, check and radio buttons, combo and list boxes, group boxes and panels;
// null for a control of another kind.
std::unique_ptr<QtPeer> makeCommonControlPeer(QtGuiBackend& backend, TControl& control,
                                              QWidget* parent);
// Any other control: a plain surface in the control's colour (windowed) or a
// transparent one (drawn), so the controls inside still have a home.
std::unique_ptr<QtPeer> makePlainPeer(QtGuiBackend& backend, TControl& control, QWidget* parent);
// Hands the plain surface of `control` to the fill registered for its class, if any.
void fillSurface(TControl& control, QWidget& surface);

// Gives `form` the peer by which it stands for the program's own top-level `window`.
void adoptWindow(QtGuiBackend& backend, TForm& form, QWidget& window);

} // namespace keltk::qt
