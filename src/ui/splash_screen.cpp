#include "ui/splash_screen.h"

#include <QIcon>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include "ui/resources.h"
#include "ui/ui_text.h"

namespace kvtr::ui {

SplashScreen::SplashScreen() : QSplashScreen(Artwork(), Qt::WindowStaysOnTopHint) {}

QPixmap SplashScreen::Artwork(qreal devicePixelRatio) {
  LoadResources();
  const QSize size(440, 250);
  QPixmap pixmap(size * devicePixelRatio);
  pixmap.setDevicePixelRatio(devicePixelRatio);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);

  QLinearGradient background(0, 0, 0, size.height());
  background.setColorAt(0.0, QColor(0x1f, 0x4e, 0x79));
  background.setColorAt(1.0, QColor(0x0e, 0x2a, 0x47));
  painter.fillRect(QRect(QPoint(0, 0), size), background);

  // A line of the bus with modules hanging on it: the program's subject, in a few strokes.
  painter.setPen(QPen(QColor(255, 255, 255, 70), 3));
  painter.drawLine(24, 200, 416, 200);
  for (int i = 0; i < 4; ++i) {
    const int x = 70 + i * 100;
    painter.drawLine(x, 200, x, 178);
    painter.setBrush(QColor(255, 255, 255, i == 1 ? 200 : 60));
    painter.drawRoundedRect(QRect(x - 18, 150, 36, 28), 4, 4);
  }

  painter.drawPixmap(QRect(24, 24, 64, 64), QIcon(QStringLiteral(":/icons/kvtr.svg")).pixmap(64 * devicePixelRatio));
  painter.setPen(Qt::white);
  QFont title = painter.font();
  title.setPixelSize(24);
  title.setBold(true);
  painter.setFont(title);
  painter.drawText(QRect(104, 24, 320, 40), Qt::AlignLeft | Qt::AlignVCenter, uiText("Конфигуратор КВТР"));
  QFont line = painter.font();
  line.setPixelSize(14);
  line.setBold(false);
  painter.setFont(line);
  painter.drawText(QRect(104, 64, 320, 24), Qt::AlignLeft | Qt::AlignVCenter,
                   uiText("Версия %1").arg(QString::fromUtf8(KVTR_VERSION)));
  painter.setPen(QColor(255, 255, 255, 180));
  painter.drawText(QRect(24, 214, 392, 24), Qt::AlignLeft | Qt::AlignVCenter, uiText("Загрузка описания прибора..."));
  painter.end();
  return pixmap;
}

}  // namespace kvtr::ui
