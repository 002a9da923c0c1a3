// The helper panel as the queue drives it: its transparency and its place in front.
//
// Both operations are made on the main thread, take effect at once and cannot fail. Ordering the
// panel front never activates the agent or takes focus.
#pragma once

namespace talvori {

class Panel {
 public:
  virtual ~Panel() = default;

  // 0.0 makes the panel fully transparent, 1.0 opaque; it stays open and in its place.
  virtual void setAlphaValue(double alpha) = 0;

  // Brings the panel to the front of its level without activating the agent.
  virtual void orderFrontRegardless() = 0;
};

}  // namespace talvori
