// HelperPanel: the agent's one window, a small tool panel that never takes focus.
#pragma once

#include <QWidget>

#include "queue/panel.h"

namespace talvori {

// A 416 x 236 titled tool window without close, minimise or resize controls and without a
// taskbar entry; it is shown without activation and never accepts focus. It hosts one content
// view, centred. Transparency and ordering front are what the queue changes. Window opacity
// shows only where a compositor honours it, so a fully transparent panel is unmapped instead:
// it is on screen exactly while it is ordered front and not transparent. Main thread only.
class HelperPanel final : public QWidget, public Panel {
 public:
  HelperPanel();

  // Makes `view` the panel's content, centred; the panel takes ownership.
  void setContentView(QWidget* view);

  // Moves the panel to the centre of the primary screen's available area.
  void center();

  void setAlphaValue(double alpha) override;
  void orderFrontRegardless() override;

  // Whether the panel has been ordered front (it may still be transparent, and so unmapped).
  bool orderedFront() const { return orderedFront_; }

 private:
  // Maps and raises the panel, or unmaps it, as its state asks.
  void present();

  double alpha_ = 1.0;
  bool orderedFront_ = false;
};

}  // namespace talvori
