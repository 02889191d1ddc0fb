#include "window/icons.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>

namespace scrivane {
namespace {

constexpr int kSize = 32;

QImage Blank() {
  QImage image(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  return image;
}

// Icons of the classic kind hold at most 256 colours.
QImage ToPalette(const QImage& image) {
  return image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdAlphaDither | Qt::AvoidDither);
}

// A sheet of paper with its top right corner folded down.
void DrawSheet(QPainter& p, const QRectF& r, qreal fold) {
  QPainterPath sheet;
  sheet.moveTo(r.topLeft());
  sheet.lineTo(r.right() - fold, r.top());
  sheet.lineTo(r.right(), r.top() + fold);
  sheet.lineTo(r.bottomRight());
  sheet.lineTo(r.bottomLeft());
  sheet.closeSubpath();
  p.setPen(QPen(QColor(64, 64, 64), 1));
  p.setBrush(Qt::white);
  p.drawPath(sheet);
  QPainterPath corner;
  corner.moveTo(r.right() - fold, r.top());
  corner.lineTo(r.right() - fold, r.top() + fold);
  corner.lineTo(r.right(), r.top() + fold);
  p.setBrush(QColor(200, 200, 200));
  p.drawPath(corner);
}

}  // namespace

QImage WindowIconImage() {
  QImage image = Blank();
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  DrawSheet(p, QRectF(5.5, 1.5, 21, 29), 7);
  p.setPen(QPen(QColor(110, 110, 110), 1));
  for (int y = 11; y <= 17; y += 3) p.drawLine(QLineF(9, y + 0.5, 22, y + 0.5));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(200, 24, 24));
  p.drawRect(QRectF(2, 20, 24, 9));
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(8);
  font.setBold(true);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(QRectF(2, 20, 24, 9), Qt::AlignCenter, QStringLiteral("PDF"));
  p.end();
  return ToPalette(image);
}

QImage PanelIconImage() {
  QImage image = Blank();
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  DrawSheet(p, QRectF(2.5, 4.5, 20, 25), 6);
  p.setPen(QPen(QColor(40, 70, 160), 1));
  for (int y = 12; y <= 24; y += 3) p.drawLine(QLineF(6, y + 0.5, 18, y + 0.5));
  // The quill: a feather from the top right down to a nib on the last line.
  QPainterPath feather;
  feather.moveTo(30, 1);
  feather.cubicTo(24, 3, 17, 12, 14, 24);
  feather.cubicTo(20, 17, 27, 9, 30, 1);
  p.setPen(QPen(QColor(120, 80, 30), 1));
  p.setBrush(QColor(230, 170, 60));
  p.drawPath(feather);
  p.setPen(QPen(QColor(20, 20, 20), 1.5));
  p.drawLine(QLineF(14, 24, 12, 28));
  p.end();
  return ToPalette(image);
}

}  // namespace scrivane
