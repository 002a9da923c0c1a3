// The agent: answers translation requests read from standard input, one JSON line each.
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>

#include <QApplication>
#include <QMetaObject>

#include "app/delegate.h"

namespace {

char** gArguments = nullptr;
bool gReading = false;  // set once the request reader may have taken input

// Descriptors 0, 1 and 2 must be open before anything else opens a file, or the first file
// opened would be taken for standard input or output. Then standard error goes to /dev/null: the
// agent writes nothing there, and neither may Qt, the C library or anything else in the process.
void settleStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) ::open("/dev/null", O_RDWR);
  }
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null >= 0) {
    ::dup2(null, STDERR_FILENO);
    if (null != STDERR_FILENO) ::close(null);
  }
}

// Qt's own diagnostics are dropped. A fatal one before the reader starts comes from a display
// platform that cannot work here and would end the process: the agent starts again on the
// offscreen platform instead, before it has read or written anything.
void onQtMessage(QtMsgType type, const QMessageLogContext&, const QString&) {
  if (type != QtFatalMsg || gReading) return;
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::execv("/proc/self/exe", gArguments);
}

// The panel goes to the X server, or failing that to Wayland; a platform named in the
// environment is tried first. Whatever cannot be used falls back to the offscreen platform, on
// which the agent works the same without a display.
void choosePlatform() {
  const char* named = std::getenv("QT_QPA_PLATFORM");
  std::string platforms = named != nullptr && *named != '\0' ? named : "xcb;wayland";
  if (platforms != "offscreen" && !platforms.ends_with(";offscreen")) platforms += ";offscreen";
  ::setenv("QT_QPA_PLATFORM", platforms.c_str(), 1);
}

}  // namespace

int main(int, char** argv) {
  settleStandardDescriptors();
  gArguments = argv;
  // The language detector takes and frees a scratch block of a few hundred kilobytes per
  // request. With the allocator's default, adaptive thresholds that block sits at the top of the
  // heap and the heap is grown and trimmed around it on every request; fixed thresholds keep it
  // in place, while blocks of a megabyte and more (long lines) still return to the system.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  mallopt(M_TRIM_THRESHOLD, 8 << 20);
  qInstallMessageHandler(onQtMessage);
  choosePlatform();
  // The agent takes no arguments, so Qt is shown none.
  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  QApplication application(qtArgc, qtArgv);
  application.setQuitOnLastWindowClosed(false);

  auto services = talvori::Delegate::processServices();
  services.startReader = [start = std::move(services.startReader)](auto delegate) {
    gReading = true;
    start(std::move(delegate));
  };
  auto delegate = std::make_shared<talvori::Delegate>(std::move(services));
  QMetaObject::invokeMethod(
      &application, [&delegate] { delegate->applicationDidFinishLaunching(); },
      Qt::QueuedConnection);
  return application.exec();
}
