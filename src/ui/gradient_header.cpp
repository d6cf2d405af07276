#include "ui/gradient_header.h"

#include <QLinearGradient>
#include <QPainter>

namespace kvtr::ui {

namespace {

// The ends of the gradient and the frame, per colour channel of 255: 0x7000 and 0xD800 of
// 0xFFFF are 0x70 and 0xD8.
const QColor kLeftGrey{0x70, 0x70, 0x70};
const QColor kRightGrey{0xD8, 0xD8, 0xD8};
const QColor kFrame{0x32, 0x32, 0x32};

}  // namespace

GradientHeader::GradientHeader(const QString& text, QWidget* parent) : QWidget(parent), text_(text) {
  QFont f("Palatino Linotype");
  f.setPixelSize(20);
  f.setWeight(QFont::DemiBold);  // 600
  setFont(f);
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void GradientHeader::setText(const QString& text) {
  text_ = text;
  updateGeometry();
  update();
}

QSize GradientHeader::sizeHint() const {
  const QFontMetrics m(font());
  return {m.horizontalAdvance(text_) + 24, m.height() + 8};
}

void GradientHeader::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect r = rect();
  QLinearGradient gradient(r.topLeft(), r.topRight());
  gradient.setColorAt(0, kLeftGrey);
  gradient.setColorAt(1, kRightGrey);
  painter.fillRect(r, gradient);
  painter.setPen(kFrame);
  painter.drawRect(r.adjusted(0, 0, -1, -1));
  painter.setPen(Qt::white);
  painter.drawText(r, Qt::AlignCenter | Qt::TextSingleLine, text_);
}

}  // namespace kvtr::ui
