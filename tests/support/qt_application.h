// The Qt application object the app tests run under, on the offscreen platform.
#pragma once

#include <chrono>
#include <cstdlib>
#include <functional>

#include <QApplication>

namespace talvori::testing {

// Makes the one application object on first use. It is never destroyed: tearing Qt down during
// static destruction crashes.
inline void ensureQtApplication() {
  if (QApplication::instance() != nullptr) return;
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "app_test";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);
}

// Runs the event loop until `done()` holds or `timeout` passes; gives done().
inline bool runEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done() && std::chrono::steady_clock::now() < deadline) {
    QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
  }
  return done();
}

}  // namespace talvori::testing
