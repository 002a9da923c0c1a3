// The delegate's start-up: the panel is in place, transparent and in front before the reader
// starts, and requests then flow from the input to the replies.
#include "app/delegate.h"

#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>

#include <QProgressBar>
#include <gtest/gtest.h>

#include "app/helper_panel.h"
#include "tests/fakes/fake_model_store.h"
#include "tests/fakes/fake_package_installer.h"
#include "tests/fakes/fake_recogniser.h"
#include "tests/fakes/fake_translation_service.h"
#include "tests/fakes/memory_reply_sink.h"
#include "tests/support/qt_application.h"

namespace talvori {
namespace {

using namespace std::chrono_literals;

TEST(DelegateTest, SetsThePanelUpBeforeTheReaderStarts) {
  testing::ensureQtApplication();
  testing::FakeRecogniser recogniser;
  recogniser.set("hello", "en");
  auto replies = std::make_unique<testing::MemoryReplySink>();
  testing::MemoryReplySink& transcript = *replies;
  int input[2];
  ASSERT_EQ(::pipe(input), 0);
  const std::string lines = R"({"id":"1","text":"hello","target":"en"})"
                            "\n";
  ASSERT_EQ(::write(input[1], lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
  ::close(input[1]);

  struct AtReaderStart {
    bool started = false, panelGiven = false, front = false, visible = true;
    double opacity = -1;
  } seen;
  bool ended = false;
  std::shared_ptr<Delegate> delegate;
  delegate = std::make_shared<Delegate>(Delegate::Services{
      recogniser.factory(), nullptr, nullptr,
      std::make_unique<testing::FakeTranslationService>(QtMainQueue::instance()),
      std::move(replies), [&](std::weak_ptr<Delegate> handOverTo) {
        seen.started = true;
        seen.panelGiven = delegate->window && delegate->model.window == delegate->window.get();
        if (delegate->window) {
          seen.front = delegate->window->orderedFront();
          seen.opacity = delegate->window->windowOpacity();
          seen.visible = delegate->window->isVisible();
        }
        Delegate::startReader(std::move(handOverTo), input[0], [&] { ended = true; });
      }});
  delegate->applicationDidFinishLaunching();
  EXPECT_TRUE(seen.started);
  EXPECT_TRUE(seen.panelGiven) << "the model has the panel before any request arrives";
  EXPECT_TRUE(seen.front) << "the panel is ordered front before the reader starts";
  EXPECT_EQ(seen.opacity, 0.0);
  EXPECT_FALSE(seen.visible) << "a transparent panel is not on screen";
  ASSERT_TRUE(testing::runEventsUntil([&] { return ended; }, 10s));
  EXPECT_EQ(transcript.take(), "{\"id\":\"1\",\"text\":\"hello\"}\n");
  ::close(input[0]);
}

// The panel's progress bar follows the package installer and the model store: determinate while
// a percentage is known, indeterminate while it is not and once the install has ended.
TEST(DelegateTest, ShowsInstallProgressInThePanel) {
  testing::ensureQtApplication();
  testing::FakeRecogniser recogniser;
  auto installer = std::make_unique<testing::FakePackageInstaller>();
  testing::FakePackageInstaller& install = *installer;
  auto store = std::make_unique<testing::FakeModelStore>();
  testing::FakeModelStore& models = *store;
  auto delegate = std::make_shared<Delegate>(Delegate::Services{
      recogniser.factory(), std::move(installer), std::move(store),
      std::make_unique<testing::FakeTranslationService>(QtMainQueue::instance()),
      std::make_unique<testing::MemoryReplySink>(), [](std::weak_ptr<Delegate>) {}});
  delegate->applicationDidFinishLaunching();
  install.install("apertium-eu-en", [](bool) {});
  install.report(40);
  // The panel's content is made when it is first shown; it shows what was reported before.
  delegate->window->setAlphaValue(1.0);
  auto* bar = delegate->window->findChild<QProgressBar*>();
  ASSERT_NE(bar, nullptr);
  auto shown = [bar]() -> std::string {
    if (bar->maximum() == 0) return "indeterminate";
    return std::to_string(bar->value()) + " of " + std::to_string(bar->maximum());
  };
  EXPECT_EQ(shown(), "40 of 100");
  install.report(std::nullopt);
  EXPECT_EQ(shown(), "indeterminate");
  install.report(70);
  EXPECT_EQ(shown(), "70 of 100");
  install.answer(true);
  EXPECT_EQ(shown(), "indeterminate");
  models.setDownloadable(SentenceDirection::chineseToEnglish(), true);
  models.install(SentenceDirection::chineseToEnglish(), [](auto) {});
  models.report(25);
  EXPECT_EQ(shown(), "25 of 100");
  models.answer(true);
  EXPECT_EQ(shown(), "indeterminate");
}

}  // namespace
}  // namespace talvori
