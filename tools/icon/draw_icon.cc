// Draws the panel's icon, a speech bubble holding a character, to a PNG:
//   QT_QPA_PLATFORM=offscreen build/tools/icon/draw_icon app/resources/character.bubble.fill.png
// The PNG is committed and compiled into the agent; the build makes this program but never runs
// it.
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  constexpr int kSize = 128;
  QImage image(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);

  // The bubble: a rounded body with a tail at the lower left.
  QPainterPath bubble;
  bubble.addRoundedRect(QRectF(8, 10, 112, 86), 26, 26);
  QPainterPath tail;
  tail.moveTo(26, 84);
  tail.lineTo(18, 118);
  tail.lineTo(56, 92);
  tail.closeSubpath();
  bubble = bubble.united(tail);
  painter.fillPath(bubble, QColor(0x2F, 0x6F, 0xEB));

  // The character, cut out of the bubble in white.
  QFont font("Noto Sans CJK SC");
  font.setPixelSize(58);
  font.setBold(true);
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(QRectF(8, 10, 112, 86), Qt::AlignCenter, QString::fromUtf8("文"));
  painter.end();
  return image.save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
