// The agent: answers translation requests read from standard input, one JSON line each.
#include <malloc.h>

#include <QApplication>
#include <QMetaObject>
#include <cstdlib>
#include <memory>

#include "app/delegate.h"

namespace {

// Qt's own diagnostics must never reach standard error.
void dropMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

}  // namespace

int main(int, char** argv) {
  // The language detector takes and frees a scratch block of a few hundred kilobytes per
  // request. With the allocator's default, adaptive thresholds that block sits at the top of the
  // heap and the heap is grown and trimmed around it on every request; fixed thresholds keep it
  // in place, while blocks of a megabyte and more (long lines) still return to the system.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  mallopt(M_TRIM_THRESHOLD, 8 << 20);
  qInstallMessageHandler(dropMessage);
  // The panel goes to the X server, or failing that to Wayland; without a reachable display it
  // lives on the offscreen platform, and the agent works the same.
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform == nullptr || *platform == '\0') {
    setenv("QT_QPA_PLATFORM", "xcb;wayland;offscreen", 1);
  }
  // The agent takes no arguments, so Qt is shown none.
  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  QApplication application(qtArgc, qtArgv);
  application.setQuitOnLastWindowClosed(false);

  auto delegate = std::make_shared<talvori::Delegate>(talvori::Delegate::processServices());
  QMetaObject::invokeMethod(
      &application, [&delegate] { delegate->applicationDidFinishLaunching(); },
      Qt::QueuedConnection);
  return application.exec();
}
