// The helper panel and its view, rendered on Qt's offscreen platform.
#include <QColor>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QSet>
#include <gtest/gtest.h>

#include "app/helper_panel.h"
#include "app/helper_view.h"
#include "queue/model.h"
#include "tests/fakes/fake_recogniser.h"
#include "tests/fakes/fake_translation_service.h"
#include "tests/fakes/manual_main_queue.h"
#include "tests/fakes/memory_reply_sink.h"
#include "tests/support/qt_application.h"

namespace talvori {
namespace {

class PanelTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::ensureQtApplication(); }

  PanelTest() {
    view = new HelperView(model, service);
    panel.setContentView(view);
    model.window = &panel;
  }

  testing::ManualMainQueue queue;
  testing::FakeRecogniser recogniser;
  testing::FakeTranslationService service{queue};
  testing::MemoryReplySink out;
  Model model{{recogniser.factory(), service, queue, out}};
  HelperPanel panel;
  HelperView* view;
};

// The content is made only when the panel is first shown, and it shows the status and a spinner.
TEST_F(PanelTest, ShowsTheStatusAndAnIndeterminateProgressBarOnceShown) {
  panel.setAlphaValue(0.0);
  panel.orderFrontRegardless();
  EXPECT_TRUE(view->findChildren<QLabel*>().isEmpty()) << "made while nobody can see it";
  panel.setAlphaValue(1.0);
  EXPECT_TRUE(view->isVisible());
  bool statusShown = false;
  for (auto* label : view->findChildren<QLabel*>()) {
    if (label->text().toStdString() == "首次使用需要下载语言包。翻译在这台电脑上完成。") {
      statusShown = true;
      EXPECT_TRUE(label->wordWrap());
    }
  }
  EXPECT_TRUE(statusShown);
  auto* progress = view->findChild<QProgressBar*>();
  ASSERT_NE(progress, nullptr);
  EXPECT_TRUE(progress->isVisible());
  EXPECT_EQ(progress->maximum(), 0) << "indeterminate";
}

// Each published configuration reaches the view's hook once, which hands a session to perform.
TEST_F(PanelTest, HandsOneSessionToTheQueuePerPublishedConfiguration) {
  recogniser.set("hola", "es");
  model.enqueue(Request{"1", "hola", Target::english});
  queue.runAll();
  service.answerStatus(AvailabilityStatus::supported);
  queue.runAll();
  EXPECT_EQ(panel.windowOpacity(), 1.0);
  EXPECT_TRUE(panel.isVisible());
  EXPECT_EQ(service.sessionsMade, 1);
  service.answerTranslation("hello");
  queue.runAll();
  EXPECT_EQ(out.take(), "{\"id\":\"1\",\"text\":\"hello\"}\n");
  EXPECT_EQ(panel.windowOpacity(), 0.0);
  EXPECT_FALSE(panel.isVisible()) << "a transparent panel is taken off the screen";
  EXPECT_EQ(service.sessionsMade, 1);
}

// The opaque panel renders a picture of its size that is not blank.
TEST_F(PanelTest, RendersWhenOpaque) {
  panel.setAlphaValue(1.0);
  panel.orderFrontRegardless();
  QApplication::processEvents();
  const QImage image = panel.grab().toImage();
  EXPECT_EQ(image.size(), QSize(416, 236));
  QSet<QRgb> colours;
  for (int y = 0; y < image.height(); y += 2) {
    for (int x = 0; x < image.width(); x += 2) colours.insert(image.pixel(x, y));
  }
  EXPECT_GT(colours.size(), 20) << "icon, text and progress bar drawn";
}

}  // namespace
}  // namespace talvori
