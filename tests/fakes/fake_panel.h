// A panel for tests that records what was done to it, in order.
#pragma once

#include <string>
#include <vector>

#include "queue/panel.h"

namespace talvori::testing {

class FakePanel : public Panel {
 public:
  void setAlphaValue(double alpha) override {
    events.push_back(alpha == 0.0 ? "alpha 0" : alpha == 1.0 ? "alpha 1" : "alpha ?");
    this->alpha = alpha;
  }
  void orderFrontRegardless() override { events.push_back("front"); }

  double alpha = 0.0;
  std::vector<std::string> events;
};

}  // namespace talvori::testing
