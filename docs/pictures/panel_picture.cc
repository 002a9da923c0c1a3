// Renders the helper panel, opaque, into a PNG file for the documentation:
//   panel_picture OUTPUT.png            as it first shows, progress unknown
//   panel_picture OUTPUT.png PERCENT    during an install that has reached PERCENT
// It runs on Qt's offscreen platform with the queue's test fakes behind the view, so it needs no
// display and no language data.
#include <cstdlib>

#include <QApplication>
#include <QImage>

#include "app/helper_panel.h"
#include "app/helper_view.h"
#include "queue/model.h"
#include "tests/fakes/fake_recogniser.h"
#include "tests/fakes/fake_translation_service.h"
#include "tests/fakes/manual_main_queue.h"
#include "tests/fakes/memory_reply_sink.h"

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) return 2;
  qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qtArgc = 1;
  QApplication application(qtArgc, argv);
  using namespace talvori;
  testing::ManualMainQueue queue;
  testing::FakeRecogniser recogniser;
  testing::FakeTranslationService service(queue);
  testing::MemoryReplySink replies;
  Model model({recogniser.factory(), service, queue, replies});
  HelperPanel panel;
  auto* view = new HelperView(model, service);
  panel.setContentView(view);
  if (argc == 3) view->showProgress(std::atoi(argv[2]));
  panel.setAlphaValue(1.0);
  panel.orderFrontRegardless();
  QApplication::processEvents();
  return panel.grab().toImage().save(argv[1]) ? 0 : 1;
}
