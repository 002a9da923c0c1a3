#include "app/helper_panel.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QScreen>

namespace talvori {

namespace {
constexpr int kWidth = 416;
constexpr int kHeight = 236;
}  // namespace

HelperPanel::HelperPanel()
    : QWidget(nullptr, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowDoesNotAcceptFocus) {
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFocusPolicy(Qt::NoFocus);
  setFixedSize(kWidth, kHeight);
  setWindowTitle(QString::fromUtf8("本地翻译语言包"));
  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
}

void HelperPanel::setContentView(QWidget* view) {
  static_cast<QGridLayout*>(layout())->addWidget(view, 0, 0, Qt::AlignCenter);
}

void HelperPanel::center() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  QRect frame(QPoint(0, 0), size());
  frame.moveCenter(screen->availableGeometry().center());
  move(frame.topLeft());
}

void HelperPanel::setAlphaValue(double alpha) { setWindowOpacity(alpha); }

void HelperPanel::orderFrontRegardless() {
  show();
  raise();
}

}  // namespace talvori
