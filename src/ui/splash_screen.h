// The window shown while the program starts: the program's name and version over our own artwork,
// drawn here so that it scales with the screen.
#pragma once

#include <QPixmap>
#include <QSplashScreen>

namespace kvtr::ui {

class SplashScreen : public QSplashScreen {
  Q_OBJECT

 public:
  SplashScreen();

  [[nodiscard]] static QPixmap Artwork(qreal devicePixelRatio = 1.0);
};

}  // namespace kvtr::ui
