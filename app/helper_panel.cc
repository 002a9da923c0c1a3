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
  // The native window is made now, at start-up, so that a display platform that cannot make one
  // fails before any input has been read, while the offscreen platform can still stand in.
  winId();
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

void HelperPanel::setAlphaValue(double alpha) {
  alpha_ = alpha;
  setWindowOpacity(alpha);
  present();
}

void HelperPanel::orderFrontRegardless() {
  orderedFront_ = true;
  present();
}

void HelperPanel::present() {
  if (orderedFront_ && alpha_ > 0.0) {
    if (!isVisible()) show();
    raise();
  } else if (isVisible()) {
    hide();
  }
}

}  // namespace talvori
