#include "app/helper_view.h"

#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QVBoxLayout>

#include "queue/model.h"

namespace talvori {

namespace {

constexpr int kWidth = 360;
constexpr int kHeight = 180;
constexpr int kPadding = 28;
constexpr int kSpacing = 16;

// Text styles derived from the application font: a large title twice its size, a bold headline.
QFont largeTitleFont(const QFont& base) {
  QFont font(base);
  font.setPointSizeF(base.pointSizeF() * 2.0);
  return font;
}

QFont headlineFont(const QFont& base) {
  QFont font(base);
  font.setBold(true);
  return font;
}

}  // namespace

HelperView::HelperView(Model& model, TranslationService& service, QWidget* parent)
    : QWidget(parent), model_(model), hook_(model, service) {
  setFixedSize(kWidth, kHeight);
  model_.onChange([this] { render(); });
}

void HelperView::setVisible(bool visible) {
  // The content is made just before the view is first shown, so that it is shown with it.
  if (visible && status_ == nullptr) build();
  QWidget::setVisible(visible);
}

void HelperView::build() {
  auto* stack = new QVBoxLayout(this);
  stack->setSpacing(kSpacing);
  stack->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
  stack->setAlignment(Qt::AlignCenter);

  auto* icon = new QLabel(this);
  const int iconSize = QFontMetrics(largeTitleFont(font())).height();
  icon->setPixmap(QPixmap(":/character.bubble.fill.png")
                      .scaled(iconSize, iconSize, Qt::KeepAspectRatio, Qt::SmoothTransformation));
  icon->setAlignment(Qt::AlignCenter);

  auto* headline = new QLabel(QString::fromUtf8("Orvine · Zentrel 翻译"), this);
  headline->setFont(headlineFont(font()));
  headline->setAlignment(Qt::AlignCenter);

  status_ = new QLabel(this);
  status_->setAlignment(Qt::AlignCenter);
  status_->setWordWrap(true);

  progress_ = new QProgressBar(this);
  progress_->setTextVisible(false);

  stack->addWidget(icon, 0, Qt::AlignHCenter);
  stack->addWidget(headline, 0, Qt::AlignHCenter);
  stack->addWidget(status_);
  stack->addWidget(progress_);
  render();
}

void HelperView::render() {
  if (status_ == nullptr) return;
  status_->setText(QString::fromStdString(model_.status()));
  if (percent_) {
    progress_->setRange(0, 100);
    progress_->setValue(*percent_);
  } else {
    progress_->setRange(0, 0);  // indeterminate
  }
}

void HelperView::showProgress(std::optional<int> percent) {
  percent_ = percent;
  render();
}

}  // namespace talvori
