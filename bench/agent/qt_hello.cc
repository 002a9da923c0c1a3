// A Qt hello-world to measure the agent's start-up against: the application object, a label
// shown on the display, and a line on standard output once the event loop runs.
#include <cstdio>

#include <QApplication>
#include <QLabel>
#include <QTimer>

int main(int argc, char** argv) {
  qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
  QApplication application(argc, argv);
  QLabel label("Hello, world");
  label.show();
  QTimer::singleShot(0, [] {
    std::puts("hello");
    std::fflush(stdout);
    std::_Exit(0);
  });
  return application.exec();
}
