// The agent: answers translation requests read from standard input, one JSON line each.
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
  qInstallMessageHandler(dropMessage);
  // Without a reachable display the panel lives on the offscreen platform instead.
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "xcb;offscreen", 1);
  // The agent takes no arguments, so Qt is shown none.
  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  QApplication application(qtArgc, qtArgv);
  application.setQuitOnLastWindowClosed(false);

  auto delegate = std::make_shared<talvori::Delegate>();
  QMetaObject::invokeMethod(
      &application, [&delegate] { delegate->applicationDidFinishLaunching(); },
      Qt::QueuedConnection);
  return application.exec();
}
